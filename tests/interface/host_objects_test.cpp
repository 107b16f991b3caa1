// The inline helpers for host objects: what both sides rely on when one
// creates an object and the other fills, empties or frees it.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <tuple>
#include <vector>

#include "frame/veltora.h"

namespace {

// The length word as a reader of the records sees it.
int32_t LengthWordAtMinus8(const CString& s) {
  int32_t length;
  memcpy(&length, s.chars - 8, sizeof length);
  return length;
}

// ---- CString ----------------------------------------------------------------------

TEST(CStringTest, EmptyTextsAndRefusedLengths) {
  CString zero{};
  EXPECT_EQ(CStringLength(&zero), 0);
  EXPECT_STREQ(CStringGet(&zero), "");
  EXPECT_STREQ(CStringGet(nullptr), "");

  CString s{};
  ASSERT_TRUE(CStringSet(&s, "kept"));
  // Impossible lengths are refused and leave the text alone.
  EXPECT_FALSE(CStringSetN(&s, "x", kCStringMaxLength + 1));
  EXPECT_FALSE(CStringSetN(&s, "x", SIZE_MAX));
  EXPECT_FALSE(CStringSetN(&s, nullptr, 3));
  EXPECT_STREQ(s.chars, "kept");
  CStringEmpty(&s);
  ASSERT_NE(s.chars, nullptr);  // readers may look at the length word
  EXPECT_EQ(LengthWordAtMinus8(s), 0);
  EXPECT_EQ(s.chars[0], '\0');
  CStringEmpty(&s);  // emptying the static empty text is harmless
  EXPECT_TRUE(CStringSet(&s, nullptr));  // null text: empty
  EXPECT_EQ(CStringLength(&s), 0);
  CStringFree(&s);
  EXPECT_EQ(s.chars, nullptr);
}

// A shorter text reuses the block (its NUL moved); a longer one moves it.
TEST(CStringTest, LengthWordSitsEightBytesBeforeTheNulTerminatedCharacters) {
  CString s{};
  for (const char* text : {"a", "2024:01:02 03:04:05", "Nik", "", "a much longer model name"}) {
    const char* block = s.chars;
    const bool shorter = block != nullptr && strlen(text) > 0 && strlen(text) < strlen(block);
    ASSERT_TRUE(CStringSet(&s, text)) << text;
    EXPECT_TRUE(!shorter || s.chars == block) << text;
    EXPECT_EQ(LengthWordAtMinus8(s), static_cast<int32_t>(strlen(text))) << text;
    EXPECT_EQ(CStringLength(&s), static_cast<int32_t>(strlen(text))) << text;
    EXPECT_EQ(s.chars[strlen(text)], '\0') << text;
    EXPECT_STREQ(CStringGet(&s), text);
  }
  CStringFree(&s);
}

TEST(CStringTest, SettingFromItsOwnCharactersAndWithEmbeddedNuls) {
  CString s{};
  ASSERT_TRUE(CStringSet(&s, "0123456789"));
  ASSERT_TRUE(CStringSetN(&s, s.chars + 2, 5));  // overlapping source
  EXPECT_STREQ(s.chars, "23456");

  const char raw[] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'x'};
  ASSERT_TRUE(CStringSetN(&s, raw, sizeof raw));
  EXPECT_EQ(CStringLength(&s), 9);
  EXPECT_EQ(memcmp(s.chars, raw, sizeof raw), 0);
  EXPECT_EQ(s.chars[9], '\0');
  CStringFree(&s);
}

TEST(CStringTest, SharedBlockIsCopiedBeforeWritingAndFreedOnce) {
  CString a{};
  ASSERT_TRUE(CStringSet(&a, "shared"));
  CString b = a;  // a host that shares the block counts the reference
  reinterpret_cast<CStringData*>(a.chars - sizeof(CStringData))->refs = 2;
  ASSERT_TRUE(CStringSet(&b, "own"));
  EXPECT_NE(a.chars, b.chars);
  EXPECT_STREQ(a.chars, "shared");
  EXPECT_STREQ(b.chars, "own");
  CStringFree(&b);
  CStringFree(&a);  // the sanitizer build catches a double free or a leak
}

// ---- Arrays ----------------------------------------------------------------------

TEST(HostArrayTest, GrowthStepDecidesTheCapacityAndTheDefaultKeepsAppendingCheap) {
  CWordArray a{};
  ASSERT_TRUE(ArraySetSize(&a, 0, 10));
  EXPECT_EQ(ArrayAdd(&a, 7), 0);
  EXPECT_EQ(a.capacity, 10);
  for (uint16_t i = 1; i < 11; ++i) ASSERT_EQ(ArrayAdd(&a, i), i);
  EXPECT_EQ(std::tuple(a.count, a.capacity), std::tuple(11, 20));
  EXPECT_EQ(ArrayGetAt(&a, 0), 7);
  EXPECT_EQ(ArrayGetAt(&a, 10), 10);
  ArrayFree(&a);
  EXPECT_EQ(std::tuple(a.elements, a.grow_by), std::tuple(nullptr, 0));

  CDWordArray d{};
  int reallocations = 0;
  const uint32_t* last = nullptr;
  for (uint32_t i = 0; i < 100000; ++i) {
    ASSERT_GE(ArrayAdd(&d, i), 0);
    if (d.elements != last) ++reallocations;
    last = d.elements;
  }
  EXPECT_EQ(d.count, 100000);
  EXPECT_GE(d.capacity, d.count);
  EXPECT_LE(d.capacity - d.count, 1024);  // the step is at most 1024
  EXPECT_LT(reallocations, 300);          // one per element would be quadratic
  EXPECT_EQ(ArrayGetAt(&d, 99999), 99999u);
  ArrayFree(&d);
}

TEST(HostArrayTest, SetSizeZeroFillsKeepsCapacityOnShrinkAndFreesAtZero) {
  CByteArray a{};
  ASSERT_TRUE(ArraySetSize(&a, 4));
  EXPECT_EQ(a.count, 4);
  for (uint8_t b : ArrayView(&a)) EXPECT_EQ(b, 0);
  ASSERT_TRUE(ArraySetAt(&a, 3, 0xAB));
  ASSERT_TRUE(ArraySetSize(&a, 2));
  EXPECT_EQ(std::tuple(a.count, a.capacity), std::tuple(2, 4));
  ASSERT_TRUE(ArraySetSize(&a, 4));  // regrown elements are zero again
  EXPECT_EQ(ArrayGetAt(&a, 3), 0);
  ASSERT_TRUE(ArraySetSize(&a, 0));
  EXPECT_EQ(std::tuple(a.elements, a.capacity), std::tuple(nullptr, 0));
  EXPECT_FALSE(ArraySetSize(&a, -1));
}

TEST(HostArrayTest, CountsBeyondTheWordsOrTheAddressSpaceAreRefused) {
  CDWordArray a{};
  const uint32_t one = 1;
  EXPECT_FALSE(ArrayAppend(&a, &one, SIZE_MAX));
  EXPECT_FALSE(ArrayAppend(&a, &one, static_cast<size_t>(INT32_MAX) + 1));
  EXPECT_EQ(std::tuple(a.count, a.elements), std::tuple(0, nullptr));

  // A full count word: nothing is allocated or written.
  uint32_t storage = 0;
  a.elements = &storage;
  a.count = INT32_MAX;
  a.capacity = INT32_MAX;
  EXPECT_EQ(ArrayAdd(&a, 1u), -1);
  EXPECT_FALSE(ArrayAppend(&a, &one, 1));
  a = CDWordArray{};

  // Under the 32-bit model INT32_MAX u32 elements exceed the address space.
  if (sizeof(void*) == 4) {
    EXPECT_FALSE(ArraySetSize(&a, INT32_MAX));
  }
}

// Also: indices outside the count are refused.
TEST(HostArrayTest, ArraysBuiltWithElementsAndCountOnlyAreReadNotGrown) {
  uint16_t tags[] = {2, 4, 29};
  CWordArray a{};
  a.elements = tags;
  a.count = 3;  // capacity left 0, as a host that builds records may do
  ASSERT_EQ(ArrayView(&a).size(), 3u);
  EXPECT_EQ(std::tuple(ArrayGetAt(&a, 2), ArrayGetAt(&a, 3), ArrayGetAt(&a, -1)),
            std::tuple(29, 0, 0));
  EXPECT_FALSE(ArraySetAt(&a, 3, 9) || ArraySetAt(&a, -1, 9));
  EXPECT_EQ(ArrayAdd(&a, 1), -1);  // growing would realloc memory we do not own
  EXPECT_FALSE(ArraySetSize(&a, 5));
  a.count = -4;
  EXPECT_TRUE(ArrayView(&a).empty());
}

// ---- ImageInfoList ------------------------------------------------------------

std::vector<std::pair<uint32_t, void*>> Entries(const ImageInfoList& list) {
  std::vector<std::pair<uint32_t, void*>> out;
  ImageInfoListVisit(&list, [&](uint32_t type, void* record) { out.emplace_back(type, record); });
  return out;
}

TEST(ImageInfoListTest, AppendLinksBothWaysFindTakesTheFirstRemoveAllKeepsRecords) {
  ImageInfoList list{};  // zero-filled: the first append makes the sentinel
  EXPECT_EQ(ImageInfoListFind(&list, INFO_GPS), nullptr);
  ImageSummary a{}, b{}, c{};  // freeing one would be caught by the sanitizer build
  ASSERT_TRUE(ImageInfoListAppend(&list, INFO_IMAGE, &a));
  ASSERT_TRUE(ImageInfoListAppend(&list, INFO_GPS, &b));
  ASSERT_TRUE(ImageInfoListAppend(&list, INFO_GPS, &c));
  EXPECT_EQ(list.count, 3u);
  EXPECT_EQ(ImageInfoListFind(&list, INFO_GPS), &b);
  EXPECT_EQ(ImageInfoListFind(&list, INFO_EXIF), nullptr);
  // Backwards from the sentinel: the reverse order, ending at the sentinel.
  ImageInfoNode* node = list.sentinel->prev;
  EXPECT_EQ(std::tuple(node->record, node->prev->record, node->prev->prev->record),
            (std::tuple<void*, void*, void*>(&c, &b, &a)));
  EXPECT_EQ(node->prev->prev->prev, list.sentinel);
  ImageInfoListRemoveAll(&list);
  EXPECT_EQ(std::tuple(list.count, list.sentinel->next, list.sentinel->prev),
            std::tuple(0u, list.sentinel, list.sentinel));
  ASSERT_TRUE(ImageInfoListAppend(&list, INFO_IMAGE, &a));  // still usable
  EXPECT_EQ(Entries(list), (std::vector<std::pair<uint32_t, void*>>{{INFO_IMAGE, &a}}));
  ImageInfoListFree(&list);
  EXPECT_EQ(list.sentinel, nullptr);
  // Records of every type, filled and freed with what they own, are the
  // round trip of record_json_test.
  EXPECT_EQ(ImageInfoRecordNew(0x4), nullptr);  // no record of an unknown type
  ImageInfoRecordDelete(INFO_EXIF, nullptr);
}

TEST(ImageInfoListTest, WalkOfADamagedListEndsAfterCountNodes) {
  ImageInfoList list{};
  int r = 0;
  ASSERT_TRUE(ImageInfoListAppend(&list, INFO_IMAGE, &r));
  ASSERT_TRUE(ImageInfoListAppend(&list, INFO_EXIF, &r));
  ImageInfoNode* second = list.sentinel->next->next;
  second->next = list.sentinel->next;  // a cycle that skips the sentinel
  EXPECT_EQ(Entries(list).size(), 2u);
  EXPECT_EQ(ImageInfoListFind(&list, INFO_GPS), nullptr);
  second->next = list.sentinel;
  ImageInfoListFree(&list);
}

TEST(ImageTextInfoTest, ResetEmptiesOnlyARecordOfVersion0120) {
  ImageTextInfo info{};
  memcpy(info.version, "0110", 4);
  ASSERT_TRUE(CStringSet(&info.Make, "Quorvanta"));
  info.capture_time.wYear = 2024;
  EXPECT_FALSE(ImageTextInfoReset(&info));
  EXPECT_EQ(CStringLength(&info.Make), 9);
  memcpy(info.version, kImageTextInfoVersion, 4);
  EXPECT_TRUE(ImageTextInfoReset(&info));
  EXPECT_EQ(std::tuple(CStringLength(&info.Make), info.capture_time.wYear), std::tuple(0, 0));
  EXPECT_NE(info.Make.chars, nullptr);
  ImageTextInfoRelease(&info);
}

TEST(HostBlobTest, SetCopiesAndRefusesWhatTheCountCannotHold) {
  HostBlob blob{};
  const char text[] = "UNICODE\0\0";
  ASSERT_TRUE(HostBlobSet(&blob, text, 9));
  EXPECT_EQ(blob.size, 9u);
  EXPECT_NE(blob.data, reinterpret_cast<const uint8_t*>(text));
  EXPECT_EQ(memcmp(blob.data, text, 9), 0);
  if (sizeof(size_t) > 4) {
    EXPECT_FALSE(HostBlobSet(&blob, text, static_cast<size_t>(UINT32_MAX) + 1));
  }
  EXPECT_FALSE(HostBlobSet(&blob, nullptr, 1));
  EXPECT_EQ(blob.size, 9u);
  ASSERT_TRUE(HostBlobSet(&blob, nullptr, 0));
  EXPECT_EQ(blob.data, nullptr);
  HostBlobFree(&blob);
}

// ---- Global memory ----------------------------------------------------------------

TEST(GlobalMemoryTest, MoveableBlockIsZeroedSizedAndCountsLocks) {
  HGLOBAL h = GlobalAlloc(GHND, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(std::tuple(GlobalSize(h), GlobalFlags(h) & GMEM_LOCKCOUNT), std::tuple(100u, 0u));
  auto* p = static_cast<uint8_t*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_NE(static_cast<void*>(p), h);  // a handle is not the pointer
  for (size_t i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
  p[99] = 0x5A;
  EXPECT_EQ(GlobalLock(h), p);  // the block does not move while held
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);
  EXPECT_NE(GlobalUnlock(h), 0);  // still locked once
  EXPECT_EQ(GlobalUnlock(h), 0);  // now unlocked
  EXPECT_EQ(GlobalUnlock(h), 0);  // was not locked
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
  EXPECT_EQ(static_cast<uint8_t*>(GlobalLock(h))[99], 0x5A);
  EXPECT_EQ(GlobalFree(h), nullptr);  // freed although locked
}

TEST(GlobalMemoryTest, FixedEmptyNullAndImpossibleBlocks) {
  HGLOBAL fixed = GlobalAlloc(GPTR, 40);  // a fixed block is its own pointer
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(GlobalLock(fixed), fixed);
  EXPECT_EQ(GlobalSize(fixed), 40u);
  EXPECT_EQ(GlobalUnlock(fixed), 0);
  EXPECT_EQ(static_cast<uint8_t*>(fixed)[39], 0);
  EXPECT_EQ(GlobalFree(fixed), nullptr);

  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);  // an empty moveable block is discarded
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalLock(empty), nullptr);
  EXPECT_EQ(GlobalSize(empty), 0u);
  EXPECT_NE(GlobalFlags(empty) & GMEM_DISCARDED, 0u);
  EXPECT_EQ(GlobalFree(empty), nullptr);

  EXPECT_EQ(std::tuple(GlobalLock(nullptr), GlobalUnlock(nullptr), GlobalSize(nullptr),
                       GlobalFree(nullptr)),
            std::tuple(nullptr, 0, 0u, nullptr));
  // Sizes that would wrap are refused.
  for (size_t bytes : {SIZE_MAX, SIZE_MAX - 16, static_cast<size_t>(PTRDIFF_MAX),
                       static_cast<size_t>(PTRDIFF_MAX) - 31}) {
    EXPECT_EQ(GlobalAlloc(GHND, bytes), nullptr) << bytes;
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, bytes), nullptr) << bytes;
  }
}

}  // namespace
