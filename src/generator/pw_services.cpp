#include "generator/pw_services.h"

#include <QDesktopServices>
#include <QFileDialog>

namespace tarn {
namespace {

TPWServices*& Installed() {
  static TPWServices desktop;
  static TPWServices* installed = &desktop;
  return installed;
}

}  // namespace

std::optional<QString> TPWServices::ChooseExistingFile(QWidget* parent) {
  QFileDialog dialog(parent);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
}

bool TPWServices::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

TPWServices& PWServices() { return *Installed(); }

TScopedPWServices::TScopedPWServices(TPWServices* services) : previous_(Installed()) {
  Installed() = services;
}

TScopedPWServices::~TScopedPWServices() { Installed() = previous_; }

}  // namespace tarn
