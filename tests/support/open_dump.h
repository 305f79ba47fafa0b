// Opens a built dump as the archive object, for tests that look inside it.
#ifndef QUARN_TESTS_OPEN_DUMP_H
#define QUARN_TESTS_OPEN_DUMP_H

#include <memory>
#include <string>

#include "dump_builder.h"
#include "plugin/quarn.h"
#include "test_files.h"

namespace quarn::testing {

class OpenedDump {
 public:
  // Saves `dump` in a folder of its own and opens it for listing; the
  // previous archive, if any, is closed first.
  TQuarn &Open(const DumpBuilder &dump, const std::string &name = "dump.bin") {
    archive_.reset();
    path_ = dir_.File(name);
    dump.Save(path_);
    tOpenArchiveData data{};
    data.ArcName = path_.data();
    data.OpenMode = PK_OM_LIST;
    archive_ = std::make_unique<TQuarn>(&data);
    openResult_ = data.OpenResult;
    return *archive_;
  }

  TQuarn &Archive() { return *archive_; }
  int OpenResult() const { return openResult_; }

 private:
  TempDir dir_;
  std::string path_;
  std::unique_ptr<TQuarn> archive_;
  int openResult_ = -1;
};

}  // namespace quarn::testing

#endif
