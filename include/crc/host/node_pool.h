// SPDX-License-Identifier: MIT
/// @file
/// Segments handed to the engine, made in storage that earlier segments left. A streaming host
/// creates one node per programmed move and drops it as soon as the engine is done with it;
/// taking the storage of a dropped node of the same class for the next one spares the allocator
/// a round trip per move, and what is kept never exceeds a handful of nodes, so memory stays
/// flat.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <typeinfo>
#include <utility>
#include <vector>

#include <crc/nodes/crc_arc.h>
#include <crc/nodes/crc_line.h>
#include <crc/nodes/crc_node.h>

namespace cutcomp {

/// A free list of line and arc nodes. Not thread-safe; destroying it frees what it keeps.
class NodePool {
public:
  /// A line (an arc) built from the constructor's arguments (or copied from one) straight in
  /// the storage it takes. May throw std::bad_alloc, and what the constructor throws.
  ///@{
  template <typename... Args>
  std::unique_ptr<crc::CCrcNode> Line(Args&&... args) {
    return Build<crc::CCrcLine>(m_Lines, std::forward<Args>(args)...);
  }
  template <typename... Args>
  std::unique_ptr<crc::CCrcNode> Arc(Args&&... args) {
    return Build<crc::CCrcArc>(m_Arcs, std::forward<Args>(args)...);
  }
  ///@}

  /// Keeps the storage of a node the host is done with. Only nodes of exactly the two engine
  /// classes are kept (a class derived from them has a different size); the rest are freed.
  void Recycle(std::unique_ptr<crc::CCrcNode> node) {
    if (!node) {
      return;
    }
    const crc::CCrcNode& object = *node;
    const std::type_info& type = typeid(object);
    if (type == typeid(crc::CCrcLine)) {
      Keep(m_Lines, node);
    } else if (type == typeid(crc::CCrcArc)) {
      Keep(m_Arcs, node);
    }
  }

private:
  // A few nodes cover every segment the engine and the host hold at once in steady state.
  static constexpr std::size_t KEPT = 16;

  template <typename T, typename... Args>
  static std::unique_ptr<crc::CCrcNode> Build(std::vector<std::unique_ptr<T>>& kept,
                                              Args&&... args) {
    if (kept.empty()) {
      return std::make_unique<T>(std::forward<Args>(args)...);
    }
    T* storage = kept.back().release();
    kept.pop_back();
    storage->~T();
    try {
      return std::unique_ptr<crc::CCrcNode>(new (storage) T(std::forward<Args>(args)...));
    } catch (...) {
      ::operator delete(storage);  // the storage of a destroyed node: freed, never destroyed again
      throw;
    }
  }

  template <typename T>
  static void Keep(std::vector<std::unique_ptr<T>>& kept, std::unique_ptr<crc::CCrcNode>& node) {
    if (kept.size() < KEPT) {
      kept.emplace_back(static_cast<T*>(node.release()));
    }
  }

  std::vector<std::unique_ptr<crc::CCrcLine>> m_Lines;
  std::vector<std::unique_ptr<crc::CCrcArc>> m_Arcs;
};

}  // namespace cutcomp
