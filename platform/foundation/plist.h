// Property lists through libplist's C API, in a small RAII layer, and their
// conversion to and from objects (NSDictionary, NSArray, NSString, NSNumber,
// NSData, NSDate).
//
// Ownership: plist::Node owns its plist_t and frees it. Objects made by
// toObject are owned by the returned Strong.
//
// Errors are values: a file that is missing, not a property list, truncated,
// larger than kMaxFileSize, nested deeper than kMaxDepth, or a binary list
// whose shared containers would expand it past the larger of kMaxNodes and
// one value per reference it holds gives an error message and no object. These bounds are checked
// before libplist sees the bytes, so its recursion and memory stay small. Nothing here throws or
// aborts on bad input.
//
// Values: dictionaries (string keys; a repeated key keeps its last value),
// arrays, strings, booleans (the shared true and false NSNumbers), integers
// (signed 64-bit), reals, data and dates. Parsed collections are immutable.
//
// Thread safety: free functions are safe from any thread; a Node is not.
#pragma once

#include <plist/plist.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/objc/nsobject.h"

namespace plist {

inline constexpr std::size_t kMaxFileSize = 1 << 20;  // larger files are refused, not parsed
inline constexpr int kMaxDepth = 128;                 // containers nested deeper are refused
// Values one binary list may expand to through shared containers, unless it
// holds more references itself: a few hundred bytes must not cost seconds and
// hundreds of megabytes to read. Shared strings, numbers and booleans (every
// writer stores an equal value once) cost nothing more than their references.
inline constexpr std::size_t kMaxNodes = 1 << 16;

class Node {
 public:
  Node() = default;
  explicit Node(plist_t p) : p_(p) {}
  Node(Node&& o) noexcept : p_(o.release()) {}
  Node& operator=(Node&& o) noexcept;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  ~Node();

  plist_t get() const { return p_; }
  plist_t release();
  explicit operator bool() const { return p_ != nullptr; }

 private:
  plist_t p_ = nullptr;
};

struct Result {
  Strong<objc_object> value;  // nullptr on error
  std::string error;          // "" on success
};

// Parses binary or XML property-list bytes.
Result parse(std::string_view bytes);
// Reads a file at a real (already device-mapped) path.
Result readFile(const std::string& real_path);
// Serialises an object graph as a binary property list. Returns "" or an error.
std::string toBinary(id object, std::string* out);
// Writes an object graph as a binary property list to a real path, atomically
// (a temporary file in the same folder, fsync, rename). Returns "" or an error.
std::string writeFile(const std::string& real_path, id object, mode_t mode = 0644);

// An empty Node for objects a plist cannot hold (other classes, non-string
// keys, nesting deeper than kMaxDepth, a collection that contains itself).
Node toNode(id object);
// nullptr for values an object cannot stand for (keys, UIDs) or nesting
// deeper than kMaxDepth.
Strong<objc_object> toObject(plist_t node);

}  // namespace plist
