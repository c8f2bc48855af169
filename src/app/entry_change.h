// The change command for the start-up password (menu Password - Change).
// It asks for the current password, then the new one twice, through plain
// input boxes whose typed text is visible. The change stays in memory and
// reaches the registry when the main window is destroyed.
#pragma once

#include <QIcon>
#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QWidget;

namespace tarn {

// Every text input box of the program goes through this seam.
class TInputBoxes {
 public:
  virtual ~TInputBoxes() = default;
  // Returns the typed text, or the empty text when the user cancels.
  virtual QString InputBox(QWidget* parent, const QString& title, const QString& prompt,
                           const QString& default_text) = 0;
};

QString InputBox(QWidget* parent, const QString& title, const QString& prompt,
                 const QString& default_text = QString());

// For tests: records each box and answers from a queue (nullopt = Cancel;
// an empty queue cancels). Installs itself while alive.
class TScriptedInputBoxes : public TInputBoxes {
 public:
  struct Asked {
    QString title, prompt, default_text;
  };
  TScriptedInputBoxes();
  ~TScriptedInputBoxes() override;
  QString InputBox(QWidget* parent, const QString& title, const QString& prompt,
                   const QString& default_text) override;
  void QueueAnswer(std::optional<QString> answer) { answers_.push_back(std::move(answer)); }
  const std::vector<Asked>& Shown() const { return shown_; }

 private:
  std::vector<Asked> shown_;
  std::deque<std::optional<QString>> answers_;
  TInputBoxes* previous_;
};

// Menu image of PWChange for the current in-memory password: 7 when it is
// not empty, 4 when it is.
int PWChangeImageIndex();

// Runs the change command and returns the menu image index to show.
int PWChangeClick(QWidget* parent);

// The pictures used for images 4 and 7 until the main window has its own list.
QIcon DefaultPWChangeImage(int index);

// Binds `PWChange` to the command: image 4 at start, then the image of each outcome.
void ConnectPWChange(QAction* PWChange, QWidget* parent,
                     std::function<QIcon(int)> image = DefaultPWChangeImage);

}  // namespace tarn
