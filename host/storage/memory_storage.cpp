#include "host/storage/memory_storage.h"

#include "host/storage/name_protocol.h"

namespace host {

using ozo::result_t;
namespace results = ozo::results;

template <class Body>
result_t MemoryNode::Call(Body body) const {
  std::lock_guard<std::mutex> lock(m_tree->mutex);
  return body();
}

result_t MemoryNode::AppendNode(ozo::cstr8_t name, ozo::IStorage** node) {
  if (!name || !node) return results::InvalidArgument;
  return Call([&]() -> result_t {
    auto child = Make<MemoryNode>(m_tree, name);
    if (m_tree->duplicates == DuplicateNames::Open) {
      for (auto& existing : m_children) {
        if (existing.first == name) {
          existing.second->AddRef();
          *node = existing.second.get();
          return results::NoError;
        }
      }
    }
    m_children.emplace_back(name, child);
    *node = child.Detach();
    return results::NoError;
  });
}

result_t MemoryNode::RemoveNode(ozo::cstr8_t name) {
  if (!name) return results::InvalidArgument;
  ozo::ref_ptr<MemoryNode> removed;  // released after the lock
  return Call([&]() -> result_t {
    for (auto it = m_children.begin(); it != m_children.end(); ++it) {
      if (it->first == name) {
        removed = std::move(it->second);
        m_children.erase(it);
        return results::NoError;
      }
    }
    return results::PathNotFound;
  });
}

result_t MemoryNode::GetNode(ozo::cstr8_t name, ozo::IStorage** node) {
  if (!name || !node) return results::InvalidArgument;
  return Call([&]() -> result_t {
    for (auto& child : m_children) {
      if (child.first == name) {
        child.second->AddRef();
        *node = child.second.get();
        return results::NoError;
      }
    }
    return results::PathNotFound;
  });
}

result_t MemoryNode::GetName(ozo::str8_t buffer, std::uint32_t& size) {
  return Call([&]() -> result_t { return CopyName(m_name, buffer, size); });
}

result_t MemoryNode::GetNodesCount(std::uint32_t& count) {
  return Call([&]() -> result_t {
    count = static_cast<std::uint32_t>(m_children.size());
    return results::NoError;
  });
}

result_t MemoryNode::GetNodeName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) {
  return Call([&]() -> result_t {
    if (index >= m_children.size()) return results::OutOfRange;
    return CopyName(m_children[index].first, buffer, size);
  });
}

result_t MemoryNode::GetNode(std::uint32_t index, ozo::IStorage** node) {
  if (!node) return results::InvalidArgument;
  return Call([&]() -> result_t {
    if (index >= m_children.size()) return results::OutOfRange;
    m_children[index].second->AddRef();
    *node = m_children[index].second.get();
    return results::NoError;
  });
}

result_t MemoryNode::GetValuesCount(std::uint32_t& count) {
  return Call([&]() -> result_t {
    count = static_cast<std::uint32_t>(m_values.size());
    return results::NoError;
  });
}

result_t MemoryNode::GetValueName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) {
  return Call([&]() -> result_t {
    if (index >= m_values.size()) return results::OutOfRange;
    return CopyName(m_values[index].first, buffer, size);
  });
}

result_t MemoryNode::SetValue(ozo::cstr8_t name, const ozo::types::variant_t& value, ozo::IStoredValueFormatter*) {
  if (!name) return results::InvalidArgument;
  ozo::types::variant_t copy = value;  // made before the lock
  return Call([&]() -> result_t {
    for (auto& entry : m_values) {
      if (entry.first == name) {
        entry.second.secure_clear();
        entry.second = std::move(copy);
        return results::NoError;
      }
    }
    m_values.emplace_back(name, std::move(copy));
    return results::NoError;
  });
}

result_t MemoryNode::GetValue(ozo::cstr8_t name, ozo::types::variant_t& value, ozo::IStoredValueFormatter*) {
  if (!name) return results::InvalidArgument;
  return Call([&]() -> result_t {
    for (const auto& entry : m_values) {
      if (entry.first == name) {
        value = entry.second;
        return results::NoError;
      }
    }
    return results::NotFound;
  });
}

result_t MemoryNode::GetValue(std::uint32_t index, ozo::types::variant_t& value, ozo::IStoredValueFormatter*) {
  return Call([&]() -> result_t {
    if (index >= m_values.size()) return results::OutOfRange;
    value = m_values[index].second;
    return results::NoError;
  });
}

MemoryNode::~MemoryNode() {
  for (auto& entry : m_values) entry.second.secure_clear();
}

result_t MemoryNode::Flush() { return results::NoError; }

result_t MemoryPersistentStorage::GetStoragesCount(std::uint32_t& count) {
  std::lock_guard<std::mutex> lock(m_mutex);
  count = static_cast<std::uint32_t>(m_trees.size());
  return results::NoError;
}

result_t MemoryPersistentStorage::GetStorageClassId(std::uint32_t index, ozo::clsid_t& classId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (index >= m_trees.size()) return results::OutOfRange;
  classId = std::next(m_trees.begin(), index)->first;
  return results::NoError;
}

result_t MemoryPersistentStorage::CreateStorage(ozo::clsid_t classId, ozo::IStorage** storage) {
  if (!storage) return results::InvalidArgument;
  std::lock_guard<std::mutex> lock(m_mutex);
  auto& tree = m_trees[classId];
  if (!tree.second) {
    tree.first = std::make_shared<MemoryTree>(m_duplicates);
    tree.second = Make<MemoryNode>(tree.first, "");
  }
  tree.second->AddRef();
  *storage = tree.second.get();
  return results::NoError;
}

result_t MemoryPersistentStorage::RemoveStorage(ozo::clsid_t classId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_trees.erase(classId) ? results::NoError : results::NotFound;
}

result_t MemoryPersistentStorage::Flush() { return results::NoError; }

result_t MemoryPersistentStorage::GetPath(ozo::string8_t& path) {
  path = m_path.c_str();
  return results::NoError;
}

result_t MemoryPersistentStorage::GetStorage(ozo::clsid_t classId, ozo::IStorage** storage) {
  if (!storage) return results::InvalidArgument;
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto tree = m_trees.find(classId);
  if (tree == m_trees.end()) return results::NotFound;
  tree->second.second->AddRef();
  *storage = tree->second.second.get();
  return results::NoError;
}

}  // namespace host
