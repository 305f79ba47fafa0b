#include "entries/sie_file.h"

#include <vector>

#include "entries/listing_path.h"

namespace quarn {

void TSieFile::SetParent(TSieFile *newParent) {
  if (newParent == parent_) return;
  TSieFile *old = parent_;
  parent_ = nullptr;
  if (old != nullptr) old->RemoveChild(this);
  if (newParent != nullptr) {
    parent_ = newParent;
    // An entry is among the children of exactly the entry its parent names,
    // so it cannot be among newParent's children yet.
    newParent->children_.Add(this);
  }
}

int TSieFile::AddChild(TSieFile *child) {
  if (child->parent_ == this) {
    const int index = children_.IndexOf(child);
    if (index >= 0) return index;
    return children_.Add(child);
  }
  child->SetParent(this);
  return children_.Count() - 1;
}

void TSieFile::RemoveChild(TSieFile *child) {
  const int index = children_.IndexOf(child);
  if (index < 0) return;
  children_.Delete(index);
  child->SetParent(nullptr);
}

void TSieFile::AddFinding(TEntryDamage damage, std::uint16_t partId, std::uint32_t address) {
  if ((damage_ & damage) != 0) return;
  damage_ = static_cast<std::uint16_t>(damage_ | damage);
  findings_.push_back({damage, partId, address});
}

void TSieFile::AddExtent(TExtent extent) {
  Size += extent.Size;
  Extents.Add(std::move(extent));
}

std::string TSieFile::FullPath() const {
  // Walk up to the topmost entry, then join downwards: no recursion, however
  // deep the dump nests its directories.
  std::vector<const TSieFile *> chain;
  for (const TSieFile *e = this; e != nullptr; e = e->parent_) chain.push_back(e);
  const TSieFile *top = chain.back();
  std::string path = top->Disk != nullptr ? ShortName(top->Disk->DiskName()) : std::string();
  for (std::size_t i = chain.size(); i-- > 0;) path = JoinPath(path, chain[i]->Name);
  return path;
}

}  // namespace quarn
