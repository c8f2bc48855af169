#include "app/record_commands.h"

#include <QClipboard>
#include <QGuiApplication>

#include "app/date_formats.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "app/repository_store.h"
#include "app/table_text.h"
#include "storage/access/dataset_query.h"

namespace tarn {
namespace {

void EnsureEditing(cairn::TCairnQuery& query) {
  if (query.State() == cairn::TDataSetState::dsBrowse || !query.Active()) query.Edit();
}

void PostIfEditing(cairn::TCairnQuery& query) {
  if (query.State() == cairn::TDataSetState::dsEdit ||
      query.State() == cairn::TDataSetState::dsInsert)
    query.Post();
}

void SetClipboard(const QString& text) { QGuiApplication::clipboard()->setText(text); }

}  // namespace

QString GeneratorLine(const QDate& today, const QString& user, const QString& password) {
  return LongDateText(today) + QStringLiteral("  ") + user + QStringLiteral("  Password =  ") +
         password;
}

QString TimeStampLine(const QDateTime& now) { return DateTimeText(now) + QChar(u'\n'); }

QString AppendNotesLine(const QString& notes, const QString& line) {
  QString text = notes;
  if (!text.isEmpty() && !text.endsWith(QChar(u'\n'))) text += QStringLiteral("\r\n");
  return text + line + QStringLiteral("\r\n");
}

QString FieldText(const cairn::TCairnQuery& query, const char* field) {
  if (std::string_view(field) == "Details") return FromTableText(query.FieldAsMemo(field));
  return FromTableText(query.FieldAsText(field));
}

void SetFieldText(cairn::TCairnQuery& query, const char* field, const QString& text) {
  // Checked before the record is touched: a refused text changes nothing.
  const std::string bytes = ToTableText(text, field, PalFieldSize(field));
  EnsureEditing(query);
  if (std::string_view(field) == "Details") {
    query.SetFieldAsMemo(field, bytes);
  } else {
    query.SetFieldAsText(field, bytes);
  }
}

void CopyPassword(cairn::TCairnQuery& query) { SetClipboard(FieldText(query, "PW")); }

void GeneratePassword(QWidget* owner, cairn::TCairnQuery& query,
                      const std::function<void(QWidget*)>& run_generator) {
  if (run_generator) run_generator(owner);
  if (AskConfirmation(owner, QStringLiteral("Paste New Password to Current Grid Record ?"),
                      TMsgButtons::kYesNo) != TMsgResult::kYes)
    return;
  const QString password = Globals().GeneratedPassword;
  // Both texts are checked before the record goes into edit state.
  ToTableText(password, "PW", PalFieldSize("PW"));
  EnsureEditing(query);
  SetFieldText(query, "PW", password);
  const QString line = GeneratorLine(Now().date(), FieldText(query, "User"), password);
  SetFieldText(query, "Details", AppendNotesLine(FieldText(query, "Details"), line));
  query.Post();
}

void DeletePassword(QWidget* owner, cairn::TCairnQuery& query) {
  if (AskConfirmation(owner, QStringLiteral("Delete the Password from the current record ?"),
                      TMsgButtons::kYesNoCancel) != TMsgResult::kYes)
    return;
  EnsureEditing(query);
  query.SetFieldNull("PW");
  query.Post();
}

void StampNotes(cairn::TCairnQuery& query) {
  EnsureEditing(query);
  SetFieldText(query, "Details", AppendNotesLine(FieldText(query, "Details"), TimeStampLine(Now())));
  query.Post();
}

void GridCopy(cairn::TCairnQuery& query, const char* field) {
  SetClipboard(FieldText(query, field));
  PostIfEditing(query);
}

void GridCut(cairn::TCairnQuery& query, const char* field) {
  EnsureEditing(query);
  SetClipboard(FieldText(query, field));
  query.SetFieldNull(field);
  query.Post();
}

void GridPaste(cairn::TCairnQuery& query) {
  const QString text = QGuiApplication::clipboard()->text();
  // Checked (and cut to 100) before the record goes into edit state.
  ToTableText(text, "PW", PalFieldSize("PW"));
  SetFieldText(query, "PW", text);
  query.Post();
}

}  // namespace tarn
