// A second program on the same table, driven line by line from its standard
// input: "append", "first", "next", "refresh", "edit FIELD TEXT" (edit state, no post),
// "post", "get FIELD", "quit". Each command answers one line: "ok", the
// field's text, or "error: " and the message.
#include <QApplication>
#include <QTextStream>
#include <exception>

#include "app/message_box.h"
#include "app/record_commands.h"
#include "app/repository_store.h"
#include "platform/program_path.h"
#include "storage/access/dataset_query.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  tarn::TScopedProgramPath program(QString::fromLocal8Bit(argv[1]));
  tarn::TScriptedMessageBoxes boxes;
  tarn::TRepositoryStore store;
  store.Open(nullptr);
  QTextStream in(stdin);
  QTextStream out(stdout);
  out << (store.IsOpen() ? "open" : "closed") << Qt::endl;
  cairn::TCairnQuery& q = store.Pwd;
  while (!in.atEnd()) {
    const QString line = in.readLine();
    const QString command = line.section(' ', 0, 0);
    const QByteArray field = line.section(' ', 1, 1).toLatin1();
    try {
      if (command == "quit") break;
      if (command == "append") {
        q.Append();
      } else if (command == "first") {
        q.First();
      } else if (command == "next") {
        q.Next();
      } else if (command == "refresh") {
        q.Refresh();
      } else if (command == "edit") {
        tarn::SetFieldText(q, field.constData(), line.section(' ', 2));
      } else if (command == "post") {
        q.Post();
      } else if (command == "get") {
        out << tarn::FieldText(q, field.constData()) << Qt::endl;
        continue;
      }
      out << "ok" << Qt::endl;
    } catch (const std::exception& e) {
      out << "error: " << e.what() << Qt::endl;
    }
  }
  store.FlushBuffers();
  return 0;
}
