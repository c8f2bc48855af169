#include "help/help_topics.h"

#include <QDir>

#include "platform/program_path.h"

namespace tarn {
namespace {

constexpr char kAboutText[] =
    "ABOUT TARN :\r\n"
    "\r\n"
    "  T-Arn = Password Repository\r\n"
    "  Named as such so as to not draw attention to itself.\r\n"
    "\r\n"
    " Tarn is a computing and storage area for simple or complex Passwords.\r\n"
    " For absolutely VITAL passwords, do not even save them in the Grid,\r\n"
    "  - just generate them each time they are required.\r\n"
    "\r\n"
    " Because 3 different criteria are required to generate each password, \r\n"
    "  it is impossible for anybody to duplicate the password without knowing what was used to "
    "create the password.\r\n"
    "\r\n"
    " ULTRA SECURE !";

constexpr char kBeginnersText[] =
    "BEGINNERS :\r\n"
    "\r\n"
    "  Hold the mouse pointer over an area to see \"Fly-By\" help.\r\n"
    "  This may also be viewed on the bottom Status Bar even after \"Fly-By\" help disappears.\r\n"
    "\r\n"
    " Move Grid columns or change column widths (with mouse pointer over heading areas) as "
    "required.\r\n"
    "\r\n"
    " Use the Grey Navigator Bar to insert, delete and navigate the records.\r\n"
    "\r\n"
    " When inserting new entries, do NOT allow a blank record to remain,\r\n"
    " - this would cause a Duplicate Record Error when attempting to insert the next (identical "
    "blank) entry.\r\n"
    " If you have done this, simply delete the blank record, or edit it to place a different entry "
    "in one of the key fields.\r\n"
    "\r\n"
    " GRID :\r\n"
    "   \"F2\"  key edits,\r\n"
    "   \"Ctrl Home\"  keys goes to 1st Grid entry,  Ctrl End goes to last record.\r\n"
    "   \"Home\"  key goes to 1st field, End key goes to last field.\r\n"
    "   \"Right Mouse Click\"  activates Cut / Copy / Paste (when allowed)\r\n"
    "   \"Ctrl C\"  to copy highlighted text\r\n"
    "   \"Ctrl X\"  to cut highlighted text.\r\n"
    "   \"Ctrl V\"  to paste highlighted text,\r\n"
    "   Click the Grid Title to Sort by the current Field (Column).\r\n"
    "\r\n"
    " A Database Navigator bar (gray boxes) is available to enable record insertions, deletions "
    "and database navigation.\r\n"
    "\r\n"
    " Click the \"tick\" if it is black to \"Post\" (send) changes to disk, or simply move to "
    "another Record with an arrow key or mouse.";

constexpr char kHintsText[] =
    " HINTS :\r\n"
    "\r\n"
    "  Short-term popup or \"Fly-By\" Help Prompts indicate component functions.\r\n"
    "\r\n"
    "  Hints are also displayed on the Status bar at the bottom of the page.\r\n"
    "\r\n"
    "   (The status bar hints remain visible even after the \"Fly-By\" prompt disappears).\r\n"
    "\r\n"
    "  Database Navigator ( the grey bar with \"boxes\" ) :- \r\n"
    "   Enables navigation of database and insertion / deletion of records from the database / "
    "grid.\r\n"
    "\r\n"
    "  Right Click the Grid to select \"Change Name\" :-\r\n"
    "   this will fascilitates changing of the file name in the Grid, and then change the file "
    "name in its Folder on the hard drive.\r\n"
    "\r\n"
    "  Right Click the Grid to select \"Delete From Computer \" :-\r\n"
    "   this will COMPLETELY remove the selected file from both the database and the Computer Hard "
    "Drive.";

constexpr char kCompatibilityHead[] =
    " WINDOWS  COMPATIBILITY :\r\n"
    "\r\n"
    "  It is STRONGLY recommended that you ensure UAC (User Access Control) is turned Down or "
    "OFF\r\n"
    "  UAC indiscriminently and seriously limits what software and users can do on a computer.\r\n"
    "  Go to Control Panel / User Accounts\r\n"
    "  Select the accounts and turn UAC OFF\r\n"
    "\r\n"
    "  Run this Software as XP compatible (change your shortcut)\r\n"
    "\r\n"
    "  Install separately for each Computer User (eg in Win7) !\r\n"
    "\r\n"
    "  Shortcuts to  ";
constexpr char kCompatibilityStartIn[] = "  should have their \"Start In Properties\" set to  ";
constexpr char kCompatibilityEnter[] =
    "  Just hit the ENTER key to close this Help Form (as long as nothing on the form has been "
    "clicked).";

}  // namespace

QString HelpTopicText(THelpTopic topic) {
  switch (topic) {
    case THelpTopic::kAbout:
      return QString::fromLatin1(kAboutText);
    case THelpTopic::kBeginners:
      return QString::fromLatin1(kBeginnersText);
    case THelpTopic::kHints:
      return QString::fromLatin1(kHintsText);
    case THelpTopic::kSplashScreen:
      return QString::fromLatin1(kCompatibilityHead) + QDir::toNativeSeparators(ProgramPath()) +
             QString::fromLatin1(kCompatibilityStartIn) +
             QDir::toNativeSeparators(ProgramFolder()) + QStringLiteral("\r\n\r\n") +
             QString::fromLatin1(kCompatibilityEnter) + QStringLiteral("\r\n");
  }
  return QString();
}

}  // namespace tarn
