#include "entries/extract_paths.h"

#include "platform/host_path.h"

namespace quarn {

namespace {

// The path on the target disk of an entry named `name` in the folder `dir`.
std::string PlacedIn(const std::string &dir, const std::string &name) {
  return dir + HostName(name);
}

}  // namespace

std::string TSieFile::ExtractDir() const {
  if (!DestDir.empty()) return DestDir;
  // The ancestors up to the nearest one that learned a destination (or the
  // topmost one); their names follow that destination in top-down order.
  std::vector<const TSieFile *> chain;
  const TSieFile *anchor = this;
  while (anchor->DestDir.empty() && anchor->parent_ != nullptr) {
    anchor = anchor->parent_;
    chain.push_back(anchor);
  }
  if (chain.empty()) return std::string();
  std::string dir = anchor->DestDir;
  for (std::size_t i = chain.size(); i-- > 0;) dir = PlacedIn(dir, chain[i]->Name) + kPathDelimiter;
  return dir;
}

namespace {

// The learned destination and the name of an entry, in one interface's form.
const std::string &DestOf(const TSieFile &entry, const std::string *) { return entry.DestDir; }
const std::u16string &DestOf(const TSieFile &entry, const std::u16string *) {
  return entry.DestDirW;
}
const std::string &NameOf(const TSieFile &entry, const std::string *) { return entry.Name; }
const std::u16string &NameOf(const TSieFile &entry, const std::u16string *) {
  return entry.WideName;
}

std::u16string PlacedIn(const std::u16string &dir, const std::u16string &name) {
  return dir + HostName(name);
}

}  // namespace

template <typename String>
TExtractPathsOf<String>::TExtractPathsOf(std::size_t maxLength) : maxLength_(maxLength) {}

template <typename String>
const std::optional<String> &TExtractPathsOf<String>::PathOf(const TSieFile &entry) {
  constexpr const String *kForm = nullptr;
  const auto delimiter = static_cast<typename String::value_type>(kPathDelimiter);
  // Each path from its parent's, as ExtractDir joins them.
  auto place = [&](const TSieFile &node, const std::optional<String> *parent) {
    std::optional<String> path;
    if (!DestOf(node, kForm).empty())
      path = PlacedIn(DestOf(node, kForm), NameOf(node, kForm));
    else if (parent != nullptr && *parent)
      path = PlacedIn(**parent + delimiter, NameOf(node, kForm));
    if (path && path->size() > maxLength_) path.reset();
    return path;
  };
  return paths_.Of(entry, place, [](const TSieFile &) { return true; });
}

template class TExtractPathsOf<std::string>;
template class TExtractPathsOf<std::u16string>;

}  // namespace quarn
