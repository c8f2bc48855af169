// The desktop services the generator window uses, behind one seam so tests
// can answer them without a screen: the open-file dialog and the desktop's
// URL handler.
#pragma once

#include <QString>
#include <QUrl>
#include <optional>

class QWidget;

namespace tarn {

class TPWServices {
 public:
  virtual ~TPWServices() = default;
  // Asks for an existing file (no filter, no title of its own, resizable,
  // no read-only box). nullopt when the user cancels.
  virtual std::optional<QString> ChooseExistingFile(QWidget* parent);
  // Opens `url` with the desktop's handler; false when that fails.
  virtual bool OpenUrl(const QUrl& url);
};

TPWServices& PWServices();

// Installs `services` for the lifetime of the object; installations nest.
class TScopedPWServices {
 public:
  explicit TScopedPWServices(TPWServices* services);
  ~TScopedPWServices();
  TScopedPWServices(const TScopedPWServices&) = delete;
  TScopedPWServices& operator=(const TScopedPWServices&) = delete;

 private:
  TPWServices* previous_;
};

}  // namespace tarn
