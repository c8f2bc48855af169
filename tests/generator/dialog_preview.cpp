// Shows the generator window (with a derived password) and the start-up
// password dialog side by side until closed, for looking at their layout
// on a real display: dialog_preview KEYFILE [seconds].
#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include "app/entry_form.h"
#include "app/message_box.h"
#include "generator/pw_form.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 64;
  tarn::TScriptedMessageBoxes boxes;  // no modal boxes in a preview

  tarn::TPWform generator;
  generator.show();
  generator.EdFile->setText(QString::fromLocal8Bit(argv[1]));
  generator.EdModifier->setText(QStringLiteral("Tarn"));
  generator.EdOffset->setText(QStringLiteral("23"));

  tarn::TEntryForm entry;
  entry.move(40, 600);
  entry.show();
  entry.PasswordInfo->setText(QStringLiteral("secret"));

  if (argc > 2)
    QTimer::singleShot(QString::fromLocal8Bit(argv[2]).toInt() * 1000, &app, &QApplication::quit);
  return app.exec();
}
