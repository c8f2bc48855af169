// The repository store: the session `Session`, the database `Database1` and
// the live query `Pwd` over table Pal that the main window browses and
// edits, all owned by the main window for its whole life. OpenRepository
// opens them in the fixed order; a failure asks whether to quit. Re-order
// reopens the query in another order; the window shows "Edits Disabled"
// whenever the result is not live.
#pragma once

#include <QString>
#include <memory>

#include "app/repository_seam.h"
#include "storage/access/dataset_database.h"
#include "storage/access/dataset_query.h"
#include "storage/access/dataset_session.h"

class QWidget;

namespace tarn {

inline constexpr const char* kTablePassword = "vusk";

// Fields of a password record, in table order, with their text sizes (0: none).
struct TPalField {
  const char* name;
  int size;
};
inline constexpr TPalField kPalFields[] = {{"Item", 100}, {"User", 100}, {"PW", 100},
                                           {"Details", 0}, {"Web", 250}, {"Date", 0}};
// Size of a text field by name; 0 for the memo, the date and unknown names.
int PalFieldSize(std::string_view field);

class TRepositoryStore : public TRepositorySeam {
 public:
  // `owner` identifies the window holding the components; none: the store itself.
  explicit TRepositoryStore(const void* owner = nullptr);
  ~TRepositoryStore() override;

  // OpenRepository. On a failure: "Sorry, Nobody Home", then "Do you wish to
  // Quit ?"; Yes requests termination, No leaves the query closed.
  void Open(QWidget* owner) override;
  bool IsOpen() const override { return Pwd.Active(); }
  bool IsLive() const override;
  bool IsEditing() const override;
  void Post() override;
  void FlushBuffers() override;
  // Closes the query and opens it ordered by `field`, on its last record.
  // A failure escapes and leaves the query closed.
  void Reorder(const QString& field) override;
  cairn::TCairnQuery* Query() override { return &Pwd; }

  cairn::TCairnSession Session;
  cairn::TCairnDatabase Database1;
  cairn::TCairnQuery Pwd;
};

}  // namespace tarn
