// An in-memory storage tree and a store of such trees per class id.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/host_object.h"
#include "ozo/storage.h"

namespace host {

// What AppendNode does when a child of that name exists.
enum class DuplicateNames {
  Open,    // the existing child is opened (names are unique keys)
  Append,  // a second child of that name is added after the others
};

// State shared by all nodes of one tree. One mutex serialises every node
// operation of the tree; no operation calls another while holding it.
struct MemoryTree {
  explicit MemoryTree(DuplicateNames d) : duplicates(d) {}

  const DuplicateNames duplicates;
  std::mutex mutex;
};

// A node with ordered children and values. AppendNode adds a new, empty child,
// or, when one of that name exists, opens it or adds a second one beside it
// as the tree's DuplicateNames says (opening keeps names unique and makes a
// copy into the tree additive, as in the SQLite store). GetNode and
// RemoveNode by name act on the first child of that name; a missing child is
// "Path not found" (0x80010103), a missing value "Not found". A removed child
// stays usable by whoever holds it, detached from the tree.
class MemoryNode : public HostObject<ozo::IStorage> {
 public:
  MemoryNode(std::shared_ptr<MemoryTree> tree, std::string name) : m_tree(std::move(tree)), m_name(std::move(name)) {}

  ozo::result_t AppendNode(ozo::cstr8_t name, ozo::IStorage** node) override;
  ozo::result_t RemoveNode(ozo::cstr8_t name) override;
  ozo::result_t GetNode(ozo::cstr8_t name, ozo::IStorage** node) override;
  ozo::result_t GetName(ozo::str8_t buffer, std::uint32_t& size) override;
  ozo::result_t GetNodesCount(std::uint32_t& count) override;
  ozo::result_t GetNodeName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override;
  ozo::result_t GetNode(std::uint32_t index, ozo::IStorage** node) override;
  ozo::result_t GetValuesCount(std::uint32_t& count) override;
  ozo::result_t GetValueName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override;
  ozo::result_t SetValue(ozo::cstr8_t name, const ozo::types::variant_t& value,
                         ozo::IStoredValueFormatter* formatter) override;
  ozo::result_t GetValue(ozo::cstr8_t name, ozo::types::variant_t& value,
                         ozo::IStoredValueFormatter* formatter) override;
  ozo::result_t GetValue(std::uint32_t index, ozo::types::variant_t& value,
                         ozo::IStoredValueFormatter* formatter) override;
  ozo::result_t Flush() override;

 protected:
  // Stored text values are overwritten with zeros before their memory goes
  // (they may be passwords).
  ~MemoryNode() override;

 private:
  // Runs `body` under the tree's lock (arguments are checked before).
  template <class Body>
  ozo::result_t Call(Body body) const;

  std::shared_ptr<MemoryTree> m_tree;
  std::string m_name;
  std::vector<std::pair<std::string, ozo::ref_ptr<MemoryNode>>> m_children;
  std::vector<std::pair<std::string, ozo::types::variant_t>> m_values;
};

// A store: one tree per class id, each made on first CreateStorage.
class MemoryPersistentStorage : public HostObject<ozo::IPersistentStorage> {
 public:
  explicit MemoryPersistentStorage(DuplicateNames duplicates = DuplicateNames::Open, std::string path = ":memory:")
      : m_duplicates(duplicates), m_path(std::move(path)) {}

  ozo::result_t GetStoragesCount(std::uint32_t& count) override;
  ozo::result_t GetStorageClassId(std::uint32_t index, ozo::clsid_t& classId) override;
  ozo::result_t CreateStorage(ozo::clsid_t classId, ozo::IStorage** storage) override;
  ozo::result_t RemoveStorage(ozo::clsid_t classId) override;
  ozo::result_t Flush() override;
  ozo::result_t GetPath(ozo::string8_t& path) override;
  ozo::result_t GetStorage(ozo::clsid_t classId, ozo::IStorage** storage) override;

 protected:
  ~MemoryPersistentStorage() override = default;

 private:
  DuplicateNames m_duplicates;
  std::string m_path;
  mutable std::mutex m_mutex;
  std::map<ozo::clsid_t, std::pair<std::shared_ptr<MemoryTree>, ozo::ref_ptr<MemoryNode>>> m_trees;
};

}  // namespace host
