// Every modal message box of the program goes through this seam, so tests can
// watch what would be shown and answer it without a screen.
//
// Kinds and captions: warning "Warning", error "Error", information
// "Information", confirmation "Confirm" (question icon), and plain notices
// captioned with the application title "Tarn" (no icon). Only a Yes answer
// is ever acted on by callers.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <vector>

class QMessageBox;
class QWidget;

namespace tarn {

inline constexpr const char* kApplicationTitle = "Tarn";

enum class TMsgIcon { kNone, kWarning, kError, kInformation, kQuestion };
enum class TMsgButtons { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class TMsgResult { kOk, kCancel, kYes, kNo };

struct TMessage {
  QString caption;
  QString text;
  TMsgIcon icon = TMsgIcon::kNone;
  TMsgButtons buttons = TMsgButtons::kOk;
};

// What shows the boxes. The default uses real modal boxes.
class TMessageBoxes {
 public:
  virtual ~TMessageBoxes() = default;
  virtual TMsgResult Show(QWidget* parent, const TMessage& message) = 0;
};

// The modal box that shows `message`: caption, plain text, icon, buttons.
std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const TMessage& message);

// Shows `message` through the installed boxes.
TMsgResult ShowMessageBox(QWidget* parent, const TMessage& message);

// The four kinds, with their captions and icons.
void ShowWarning(QWidget* parent, const QString& text);
void ShowError(QWidget* parent, const QString& text);
void ShowInformation(QWidget* parent, const QString& text);
TMsgResult AskConfirmation(QWidget* parent, const QString& text,
                           TMsgButtons buttons = TMsgButtons::kYesNo);
// A plain notice captioned "Tarn" with an OK button.
void ShowNotice(QWidget* parent, const QString& text);

// Installs `boxes` for its lifetime (tests); installations nest.
class TScopedMessageBoxes {
 public:
  explicit TScopedMessageBoxes(TMessageBoxes* boxes);
  ~TScopedMessageBoxes();
  TScopedMessageBoxes(const TScopedMessageBoxes&) = delete;
  TScopedMessageBoxes& operator=(const TScopedMessageBoxes&) = delete;

 private:
  TMessageBoxes* previous_;
};

// For tests: records every box and answers from a queue of results (OK, or
// the first button, when the queue is empty). Installs itself while alive.
class TScriptedMessageBoxes : public TMessageBoxes {
 public:
  TScriptedMessageBoxes();
  ~TScriptedMessageBoxes() override;

  TMsgResult Show(QWidget* parent, const TMessage& message) override;

  void QueueAnswer(TMsgResult result) { answers_.push_back(result); }
  const std::vector<TMessage>& Shown() const { return shown_; }
  QStringList Texts() const;
  void Clear() { shown_.clear(); }

 private:
  std::vector<TMessage> shown_;
  std::deque<TMsgResult> answers_;
  TMessageBoxes* previous_;
};

}  // namespace tarn
