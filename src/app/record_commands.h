// The record commands on the current password record of the live query:
// copy the password, generate a new one, delete it, stamp the notes, and the
// pop-up copy, cut and paste of the grid. Every command that changes the
// record edits, changes and posts at once; the engine's refusals (read-only
// result, lock refused, duplicate key, closed query) escape to the caller.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <functional>

class QWidget;

namespace cairn {
class TCairnQuery;
}

namespace tarn {

// Notes lines written by the commands.
QString GeneratorLine(const QDate& today, const QString& user, const QString& password);
QString TimeStampLine(const QDateTime& now);
// `notes` with `line` appended as a new last line (each line ends in CR LF).
QString AppendNotesLine(const QString& notes, const QString& line);

// Field text of the current record as shown (dates as dd/mm/yyyy).
QString FieldText(const cairn::TCairnQuery& query, const char* field);
// Edit state, `field` := `text` (checked against the table, cut to size), no post.
void SetFieldText(cairn::TCairnQuery& query, const char* field, const QString& text);

// CopyBtn: the clipboard gets the current record's PW; nothing else changes.
void CopyPassword(cairn::TCairnQuery& query);
// GoBtn: runs the generator dialog, then asks "Paste New Password to Current
// Grid Record ?"; on Yes sets PW to GeneratedPassword and appends the
// generator line to the notes, and posts.
void GeneratePassword(QWidget* owner, cairn::TCairnQuery& query,
                      const std::function<void(QWidget*)>& run_generator);
// Password - Delete: "Delete the Password from the current record ?" (Yes, No,
// Cancel); Yes empties PW and posts.
void DeletePassword(QWidget* owner, cairn::TCairnQuery& query);
// Double-click on the notes: appends the time stamp line and posts.
void StampNotes(cairn::TCairnQuery& query);

// Pop-up menu on the grid; `field` is the current column's field.
void GridCopy(cairn::TCairnQuery& query, const char* field);
void GridCut(cairn::TCairnQuery& query, const char* field);
void GridPaste(cairn::TCairnQuery& query);

}  // namespace tarn
