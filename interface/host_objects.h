// The host's string, growable arrays and record list, and the inline helpers
// with which hosts create, fill, empty and destroy them. The plug-in only
// empties and fills objects it is given; it never destroys them.
//
// Contracts shared by every helper here:
//   - an all-zero object is valid and empty (see host_types.h);
//   - memory is malloc'd and freed, so either side may release it;
//   - a helper that can fail returns false (or -1 / null), leaves the object
//     as it was, and fails on allocation failure or on a size that the 32-bit
//     count words cannot hold; it never throws.
#ifndef VELTORA_INTERFACE_HOST_OBJECTS_H_
#define VELTORA_INTERFACE_HOST_OBJECTS_H_

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <span>
#include <type_traits>

// ---- Text: CString ------------------------------------------------------------
// One pointer to NUL-terminated 8-bit characters. In front of the characters
// lies a CStringData header, so the length is the 32-bit integer 8 bytes
// before the first character, where every reader of the records looks for it.
// The header is three int32 words in both models, so that offset does not
// depend on the pointer size.
struct CStringData {
  int32_t refs;      // 1: owned by one string; > 1: shared (see below); < 0: the static empty text
  int32_t length;    // characters, without the NUL
  int32_t capacity;  // characters the block can hold, without the NUL
};

// chars is null (zero-filled object) or points behind a CStringData.
// A host may share one heap block between strings by raising refs; the
// helpers then copy before writing and free only the last reference.
struct CString {
  char* chars;
};

namespace veltora_host_objects {

// The text every emptied CString points to, so that a reader that looks at
// the length word of an empty text finds 0 instead of faulting. refs = -1
// marks it as never written and never freed. Each side has its own copy;
// the helpers recognise it by refs, not by address.
struct EmptyTextBlock {
  CStringData header;
  char chars[4];
};
inline constexpr EmptyTextBlock kEmptyText = {{-1, 0, 0}, {0, 0, 0, 0}};
static_assert(offsetof(EmptyTextBlock, chars) == sizeof(CStringData));

inline CStringData* HeaderOf(const char* chars) {
  return reinterpret_cast<CStringData*>(const_cast<char*>(chars) - sizeof(CStringData));
}

inline char* EmptyChars() { return const_cast<char*>(kEmptyText.chars); }

inline void ReleaseText(char* chars) {
  if (chars == nullptr) return;
  CStringData* header = HeaderOf(chars);
  if (header->refs > 1) {
    --header->refs;
  } else if (header->refs == 1) {
    free(header);
  }
}

}  // namespace veltora_host_objects

// Longest text the 32-bit length word (and the block size) can describe.
constexpr size_t kCStringMaxLength =
    static_cast<size_t>(INT32_MAX) - sizeof(CStringData) - 1;

// Makes s an empty text without reading what it held (for raw memory).
inline void CStringInit(CString* s) { s->chars = veltora_host_objects::EmptyChars(); }

inline int32_t CStringLength(const CString* s) {
  if (s == nullptr || s->chars == nullptr) return 0;
  return veltora_host_objects::HeaderOf(s->chars)->length;
}

// Never null: "" for a null object or a zero-filled one.
inline const char* CStringGet(const CString* s) {
  if (s == nullptr || s->chars == nullptr) return "";
  return s->chars;
}

// Releases the characters; s becomes the empty text.
inline void CStringEmpty(CString* s) {
  veltora_host_objects::ReleaseText(s->chars);
  s->chars = veltora_host_objects::EmptyChars();
}

// Releases the characters; s becomes all-zero (destroyed).
inline void CStringFree(CString* s) {
  veltora_host_objects::ReleaseText(s->chars);
  s->chars = nullptr;
}

// Sets s to the n bytes at text (which may lie inside s itself); the text may
// contain NULs, the length is n. False when n > kCStringMaxLength, when text
// is null with n > 0, or when memory is short.
inline bool CStringSetN(CString* s, const char* text, size_t n) {
  using namespace veltora_host_objects;
  if (n > kCStringMaxLength || (text == nullptr && n != 0)) return false;
  if (n == 0) {
    CStringEmpty(s);
    return true;
  }
  const int32_t length = static_cast<int32_t>(n);
  if (s->chars != nullptr) {
    CStringData* header = HeaderOf(s->chars);
    if (header->refs == 1 && header->capacity >= length) {
      memmove(s->chars, text, n);
      s->chars[n] = '\0';
      header->length = length;
      return true;
    }
  }
  void* raw = malloc(sizeof(CStringData) + n + 1);
  if (raw == nullptr) return false;
  CStringData* header = static_cast<CStringData*>(raw);
  header->refs = 1;
  header->length = length;
  header->capacity = length;
  char* chars = static_cast<char*>(raw) + sizeof(CStringData);
  memcpy(chars, text, n);
  chars[n] = '\0';
  ReleaseText(s->chars);
  s->chars = chars;
  return true;
}

// Sets s to the NUL-terminated text; null sets it empty.
inline bool CStringSet(CString* s, const char* text) {
  return CStringSetN(s, text, text == nullptr ? 0 : strlen(text));
}

// ---- Growable arrays: CWordArray, CDWordArray, CByteArray ---------------------
// Five words: a class word, the elements, the count, the capacity and the
// growth step. The class word stands where the host framework keeps its class
// pointer; nothing reads it and the helpers leave it alone. Readers of records
// use only elements and count, so a host that builds a record to be read
// (Encode, AppendExif) may fill just those two. An array that the plug-in
// empties or fills (GetExif, GetMakerNoteValue) must hold malloc'd elements
// and a true capacity: build it with these helpers or zero it.
template <typename T>
struct HostArray {
  const void* class_word;
  T* elements;
  int32_t count;
  int32_t capacity;
  // Elements added per reallocation; 0 or less: count / 8, kept within
  // 4..1024 (so appending stays linear in time).
  int32_t grow_by;
};

// Distinct types (not aliases) so that they can be forward-declared.
struct CWordArray : HostArray<uint16_t> {};
struct CDWordArray : HostArray<uint32_t> {};
struct CByteArray : HostArray<uint8_t> {};
using ShortArray = CWordArray;
using LongArray = CDWordArray;
using ByteArray = CByteArray;

namespace veltora_host_objects {

// Most elements an array may hold: the count word's range, and a byte size
// that neither wraps size_t nor exceeds a pointer difference.
template <typename T>
constexpr int32_t MaxCount() {
  constexpr uint64_t by_bytes = static_cast<uint64_t>(PTRDIFF_MAX) / sizeof(T);
  return by_bytes < static_cast<uint64_t>(INT32_MAX) ? static_cast<int32_t>(by_bytes) : INT32_MAX;
}

// Makes room for `needed` elements (capacity only; count unchanged).
template <typename T>
bool Reserve(HostArray<T>* a, int32_t needed) {
  if (needed <= a->capacity) return true;
  if (needed > MaxCount<T>()) return false;
  int64_t step = a->grow_by;
  if (step <= 0) {
    step = a->count / 8;
    step = step < 4 ? 4 : (step > 1024 ? 1024 : step);
  }
  int64_t wanted = a->elements == nullptr ? (a->grow_by > needed ? a->grow_by : needed)
                                          : static_cast<int64_t>(a->capacity) + step;
  if (wanted < needed) wanted = needed;
  if (wanted > MaxCount<T>()) wanted = MaxCount<T>();
  void* grown = realloc(a->elements, static_cast<size_t>(wanted) * sizeof(T));
  if (grown == nullptr) return false;
  a->elements = static_cast<T*>(grown);
  a->capacity = static_cast<int32_t>(wanted);
  return true;
}

template <typename T>
bool Consistent(const HostArray<T>* a) {
  return a->count >= 0 && a->capacity >= a->count && (a->elements != nullptr || a->capacity == 0);
}

}  // namespace veltora_host_objects

// Empties the array with the given growth step; reads nothing it held.
template <typename T>
void ArrayInit(HostArray<T>* a, int32_t grow_by = 0) {
  a->class_word = nullptr;
  a->elements = nullptr;
  a->count = 0;
  a->capacity = 0;
  a->grow_by = grow_by;
}

// Frees the elements; count and capacity become 0; class word and growth
// step stay.
template <typename T>
void ArrayRemoveAll(HostArray<T>* a) {
  free(a->elements);
  a->elements = nullptr;
  a->count = 0;
  a->capacity = 0;
}

// Frees the elements and zeroes the whole object (destroyed).
template <typename T>
void ArrayFree(HostArray<T>* a) {
  ArrayRemoveAll(a);
  a->class_word = nullptr;
  a->grow_by = 0;
}

// Sets the count to n: new elements are zero, surplus ones dropped (the
// capacity is kept); n == 0 frees the elements. A grow_by of 0 or more
// replaces the growth step first. False for n < 0, n beyond the limit, an
// object not built as required above, or a short memory.
template <typename T>
bool ArraySetSize(HostArray<T>* a, int32_t n, int32_t grow_by = -1) {
  using namespace veltora_host_objects;
  if (n < 0 || !Consistent(a)) return false;
  if (grow_by >= 0) a->grow_by = grow_by;
  if (n == 0) {
    ArrayRemoveAll(a);
    return true;
  }
  if (!Reserve(a, n)) return false;
  if (n > a->count) {
    memset(a->elements + a->count, 0, static_cast<size_t>(n - a->count) * sizeof(T));
  }
  a->count = n;
  return true;
}

// Appends one element; its index, or -1.
template <typename T>
int32_t ArrayAdd(HostArray<T>* a, std::type_identity_t<T> value) {
  using namespace veltora_host_objects;
  if (!Consistent(a) || a->count == INT32_MAX || !Reserve(a, a->count + 1)) return -1;
  a->elements[a->count] = value;
  return a->count++;
}

// Appends n elements (values may not lie inside the array). False as above.
template <typename T>
bool ArrayAppend(HostArray<T>* a, const T* values, size_t n) {
  using namespace veltora_host_objects;
  if (n == 0) return true;
  if (values == nullptr || !Consistent(a)) return false;
  if (n > static_cast<size_t>(MaxCount<T>() - a->count)) return false;
  const int32_t total = a->count + static_cast<int32_t>(n);
  if (!Reserve(a, total)) return false;
  memcpy(a->elements + a->count, values, n * sizeof(T));
  a->count = total;
  return true;
}

// The elements as the count describes them; empty for a negative count or
// null elements. Works on arrays a host filled with elements and count only.
template <typename T>
std::span<const T> ArrayView(const HostArray<T>* a) {
  if (a == nullptr || a->elements == nullptr || a->count <= 0) return {};
  return {a->elements, static_cast<size_t>(a->count)};
}

// Element i, or 0 when i is outside the array.
template <typename T>
T ArrayGetAt(const HostArray<T>* a, int32_t i) {
  std::span<const T> view = ArrayView(a);
  return i >= 0 && static_cast<size_t>(i) < view.size() ? view[static_cast<size_t>(i)] : T{0};
}

// Replaces element i; false when i is outside the array.
template <typename T>
bool ArraySetAt(HostArray<T>* a, int32_t i, std::type_identity_t<T> value) {
  if (a->elements == nullptr || i < 0 || i >= a->count) return false;
  a->elements[i] = value;
  return true;
}

// ---- Record list: ImageInfoList -----------------------------------------------
// A circular doubly linked list with a heap sentinel node: the sentinel's next
// is the first node, an empty list's sentinel points to itself. A zero-filled
// list (no sentinel) is empty; appending gives it a sentinel.
//
// Records are not owned by the list: removing nodes never touches them.
// Records that GetStillImageInfo hands over are the host's and are released
// with ImageInfoRecordDelete or ImageInfoListDeleteRecords (host_records.h);
// records a host passes to AppendExif or Encode are only read.
struct ImageInfoNode {
  ImageInfoNode* next;
  ImageInfoNode* prev;
  uint32_t type;  // INFO_*
  void* record;
};

struct ImageInfoList {
  uint32_t allocator_reserved;  // stands for the framework's allocator; never read or written
  ImageInfoNode* sentinel;
  uint32_t count;
};

// Makes an empty list with its sentinel, reading nothing it held. False when
// memory is short (the list is then zero-filled, which is also empty).
inline bool ImageInfoListInit(ImageInfoList* list) {
  list->allocator_reserved = 0;
  list->count = 0;
  list->sentinel = static_cast<ImageInfoNode*>(calloc(1, sizeof(ImageInfoNode)));
  if (list->sentinel == nullptr) return false;
  list->sentinel->next = list->sentinel;
  list->sentinel->prev = list->sentinel;
  return true;
}

// Appends (type, record) at the end. False when memory is short or the count
// is full; the list is then unchanged.
inline bool ImageInfoListAppend(ImageInfoList* list, uint32_t type, void* record) {
  if (list->count == UINT32_MAX) return false;
  if (list->sentinel == nullptr) {
    const uint32_t keep = list->allocator_reserved;
    if (!ImageInfoListInit(list)) return false;
    list->allocator_reserved = keep;
  }
  ImageInfoNode* node = static_cast<ImageInfoNode*>(malloc(sizeof(ImageInfoNode)));
  if (node == nullptr) return false;
  ImageInfoNode* last = list->sentinel->prev;
  node->next = list->sentinel;
  node->prev = last;
  node->type = type;
  node->record = record;
  last->next = node;
  list->sentinel->prev = node;
  ++list->count;
  return true;
}

// Calls visit(type, record) for the nodes in order. The walk takes at most
// `count` steps, so a list damaged into a cycle cannot hang it.
template <typename Visit>
void ImageInfoListVisit(const ImageInfoList* list, Visit visit) {
  if (list == nullptr || list->sentinel == nullptr) return;
  const ImageInfoNode* node = list->sentinel->next;
  for (uint32_t i = 0; i < list->count && node != nullptr && node != list->sentinel; ++i) {
    visit(node->type, node->record);
    node = node->next;
  }
}

// The record of the first node of that type, or null.
inline void* ImageInfoListFind(const ImageInfoList* list, uint32_t type) {
  void* found = nullptr;
  ImageInfoListVisit(list, [&](uint32_t t, void* record) {
    if (found == nullptr && t == type) found = record;
  });
  return found;
}

// Frees every node but the sentinel; the records are not touched.
inline void ImageInfoListRemoveAll(ImageInfoList* list) {
  ImageInfoNode* sentinel = list->sentinel;
  if (sentinel == nullptr) {
    list->count = 0;
    return;
  }
  ImageInfoNode* node = sentinel->next;
  for (uint32_t i = 0; i < list->count && node != nullptr && node != sentinel; ++i) {
    ImageInfoNode* next = node->next;
    free(node);
    node = next;
  }
  sentinel->next = sentinel;
  sentinel->prev = sentinel;
  list->count = 0;
}

// Frees every node and the sentinel; the list becomes zero-filled
// (destroyed). The records are not touched.
inline void ImageInfoListFree(ImageInfoList* list) {
  ImageInfoListRemoveAll(list);
  free(list->sentinel);
  list->sentinel = nullptr;
  list->allocator_reserved = 0;
}

#endif  // VELTORA_INTERFACE_HOST_OBJECTS_H_
