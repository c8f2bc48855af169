// Shows one of the help, colour and about windows, or the version check's
// question, on a real display for looking at their layout:
// help_preview about|beginners|hints|splash|colour|aboutbox|question
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "app/process_values.h"
#include "app/settings.h"
#include "app/version_check.h"
#include "help/about_form.h"
#include "help/colour_box.h"
#include "help/colour_form.h"
#include "help/help_topics.h"
#include "help/msg_form.h"
#include "platform/profile_file.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 64;
  const QString mode = QString::fromLocal8Bit(argv[1]);
  tarn::SetProgramValues();
  if (mode == "about") tarn::ShowHelpTopic(nullptr, tarn::THelpTopic::kAbout);
  if (mode == "beginners") tarn::ShowHelpTopic(nullptr, tarn::THelpTopic::kBeginners);
  if (mode == "hints") tarn::ShowHelpTopic(nullptr, tarn::THelpTopic::kHints);
  if (mode == "splash") tarn::ShowHelpTopic(nullptr, tarn::THelpTopic::kSplashScreen);
  if (mode == "aboutbox") tarn::ShowAboutForm(nullptr);
  if (mode == "colour") {
    tarn::TScopedColourChooser chooser(
        [](QWidget*, const QColor&) { return std::optional<QColor>(QColor(0x33, 0x99, 0x66)); });
    QTimer::singleShot(300, [] {
      auto* form = qobject_cast<tarn::TColourForm*>(QApplication::activeModalWidget());
      if (form == nullptr) return;
      form->ColorBox3->setCurrentIndex(tarn::TColourBox::kCustomIndex);
      emit form->ColorBox3->activated(tarn::TColourBox::kCustomIndex);
    });
    tarn::ShowColourForm(nullptr);
  }
  if (mode == "question") {
    // A server on loopback with a newer version; the first notice is answered.
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
      QTcpSocket* s = server.nextPendingConnection();
      QObject::connect(s, &QTcpSocket::readyRead, [s] {
        s->readAll();
        s->write("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n1.2.0");
        s->disconnectFromHost();
      });
    });
    tarn::TProfileFile file(tarn::SettingsPath());
    file.WriteString("Update", "VersionServer",
                     QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()));
    file.Save();
    QTimer accept;
    QObject::connect(&accept, &QTimer::timeout, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box != nullptr && box->text().startsWith("About to check")) box->accept();
    });
    accept.start(200);
    tarn::VersionCheckClick(nullptr);
  }
  return 0;
}
