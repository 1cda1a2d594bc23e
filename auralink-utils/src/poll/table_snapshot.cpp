#include "poll/table_snapshot.h"

#include <auralink/attribute_text.h>

#include <algorithm>
#include <cstring>

namespace auralink::poll {

namespace {

constexpr size_t kBlockSize = 1 << 20;
constexpr char kEnd = '\0';         // after each value
constexpr char kEscape = '\1';      // before an escaped 0x00, 0x01 or 0x02 (as 0x01, 0x02, 0x03)
constexpr char kIdentifier = '\2';  // before the 16 bytes of an identifier in text form
constexpr size_t kIdentifierText = 36;
constexpr size_t kIdentifierBytes = 16;

bool IsDash(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in upper case, as identifiers are read: kept as
// their 16 bytes, less than half their text.
bool AppendIdentifier(std::string& text, const std::string& value) {
  if (value.size() != kIdentifierText) return false;
  unsigned char bytes[kIdentifierBytes];
  size_t digits = 0;
  for (size_t i = 0; i < kIdentifierText; ++i) {
    if (IsDash(i)) {
      if (value[i] != '-') return false;
      continue;
    }
    int digit = HexDigit(value[i]);
    if (digit < 0) return false;
    if (digits % 2 == 0)
      bytes[digits / 2] = static_cast<unsigned char>(digit << 4);
    else
      bytes[digits / 2] |= static_cast<unsigned char>(digit);
    ++digits;
  }
  text += kIdentifier;
  text.append(reinterpret_cast<const char*>(bytes), kIdentifierBytes);
  return true;
}

void ReadIdentifier(std::string_view text, size_t& at, std::string& into) {
  static const char kDigits[] = "0123456789ABCDEF";
  ++at;  // the marker
  size_t digit = 0;
  for (size_t i = 0; i < kIdentifierText; ++i) {
    if (IsDash(i)) {
      into += '-';
      continue;
    }
    unsigned char byte = at + digit / 2 < text.size() ? static_cast<unsigned char>(text[at + digit / 2]) : 0;
    into += kDigits[digit % 2 == 0 ? byte >> 4 : byte & 0x0F];
    ++digit;
  }
  at += kIdentifierBytes;
}

void AppendCount(std::string& text, size_t count) {
  do {
    unsigned char byte = count & 0x7F;
    count >>= 7;
    text += static_cast<char>(count ? byte | 0x80 : byte);
  } while (count);
}

size_t ReadCount(std::string_view text, size_t& at) {
  size_t count = 0;
  for (unsigned shift = 0; at < text.size(); shift += 7) {
    unsigned char byte = static_cast<unsigned char>(text[at++]);
    count |= static_cast<size_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) break;
  }
  return count;
}

bool IsInternal(char c) { return c == kEnd || c == kEscape || c == kIdentifier; }

void AppendValue(std::string& text, const std::string& value) {
  if (AppendIdentifier(text, value)) return;
  if (std::none_of(value.begin(), value.end(), IsInternal)) {
    text += value;
  } else {
    for (char c : value) {
      if (IsInternal(c)) {
        text += kEscape;
        text += static_cast<char>(c + 1);
      } else {
        text += c;
      }
    }
  }
  text += kEnd;
}

// Appends the value at `at` to a stream, as it was read but with each "|" written as the
// stand-in (so that a value cannot forge pairs), and moves `at` past it.
void ReadValue(std::string_view text, size_t& at, std::string& into) {
  if (at < text.size() && text[at] == kIdentifier) return ReadIdentifier(text, at, into);
  // An escaped byte is never 0x00, so the first 0x00 ends the value.
  const size_t start = std::min(at, text.size());
  const void* end = std::memchr(text.data() + start, kEnd, text.size() - start);
  const std::string_view stored =
      text.substr(start, end ? static_cast<size_t>(static_cast<const char*>(end) - text.data()) - start : text.size());
  at = start + stored.size() + 1;
  if (stored.find(kEscape) == std::string_view::npos) return auralink::model::AppendPairValue(into, stored);
  std::string value;
  for (size_t i = 0; i < stored.size(); ++i)
    value += stored[i] == kEscape && i + 1 < stored.size() ? static_cast<char>(stored[++i] - 1) : stored[i];
  auralink::model::AppendPairValue(into, value);
}

void SkipValues(std::string_view text, size_t& at, size_t count) {
  for (size_t i = 0; i < count && at < text.size(); ++i) {
    if (text[at] == kIdentifier) {
      at = std::min(text.size(), at + 1 + kIdentifierBytes);
      continue;
    }
    const void* end = std::memchr(text.data() + at, kEnd, text.size() - at);
    at = end ? static_cast<size_t>(static_cast<const char*>(end) - text.data()) + 1 : text.size();
  }
}

uint64_t Prefix(std::string_view key) {
  uint64_t prefix = 0;
  for (size_t i = 0; i < 8; ++i) prefix = prefix << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  return prefix;
}

// The attribute part of one object from the attribute parts of its rows: each table's
// distinct rows, in the order of their values, so that the numbering of repeated fields
// does not depend on the order in which the rows came.
void MergeAttributes(const SnapshotLayout& layout, const std::vector<std::string_view>& parts, std::string& into) {
  std::vector<size_t> cursors(parts.size(), 0);
  std::vector<std::string_view> copies;
  for (const std::vector<size_t>& columns : layout.slotColumns) {
    if (columns.empty()) continue;
    copies.clear();
    for (size_t part = 0; part < parts.size(); ++part) {
      size_t& at = cursors[part];
      for (size_t count = ReadCount(parts[part], at); count > 0; --count) {
        size_t start = at;
        SkipValues(parts[part], at, columns.size());
        copies.push_back(parts[part].substr(start, at - start));
      }
    }
    std::sort(copies.begin(), copies.end());
    copies.erase(std::unique(copies.begin(), copies.end()), copies.end());
    AppendCount(into, copies.size());
    for (std::string_view copy : copies) into += copy;
  }
}

}  // namespace

SnapshotLayout::SnapshotLayout(const SnapshotQuery& query) : slotColumns(query.slotCount) {
  for (size_t i = 0; i < query.columns.size(); ++i) {
    const SnapshotColumn& column = query.columns[i];
    names.push_back(column.column);
    if (column.key)
      keyColumns.push_back(i);
    else if (column.slot < slotColumns.size())
      slotColumns[column.slot].push_back(i);
  }
}

TableSnapshot::Record TableSnapshot::At(const Entry& entry) const {
  const char* start = blocks_[entry.block].get() + entry.offset;
  // The two lengths take at most ten bytes each; the record follows them.
  std::string_view header(start, 20);
  size_t at = 0;
  size_t keyLength = ReadCount(header, at);
  size_t attributesLength = ReadCount(header, at);
  return {std::string_view(start + at, keyLength), std::string_view(start + at + keyLength, attributesLength)};
}

TableSnapshot::Entry TableSnapshot::Store(std::string_view key, std::string_view attributes) {
  std::string header;
  AppendCount(header, key.size());
  AppendCount(header, attributes.size());
  const size_t length = header.size() + key.size() + attributes.size();
  // At reads up to twenty header bytes: room for them at the end of a block.
  const size_t room = std::max(length, size_t{20});
  if (blocks_.empty() || lastBlockUsed_ + room > lastBlockSize_) {
    lastBlockSize_ = std::max(kBlockSize, room);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(lastBlockSize_));
    lastBlockUsed_ = 0;
  }
  Entry entry{static_cast<uint32_t>(blocks_.size() - 1), static_cast<uint32_t>(lastBlockUsed_)};
  char* at = blocks_.back().get() + lastBlockUsed_;
  at = std::copy(header.begin(), header.end(), at);
  at = std::copy(key.begin(), key.end(), at);
  std::copy(attributes.begin(), attributes.end(), at);
  lastBlockUsed_ += length;
  return entry;
}

void TableSnapshot::AppendKey(std::string& text, std::string_view key) const {
  size_t at = 0;
  for (size_t column : layout_->keyColumns) {
    text += layout_->names[column];
    text += '=';
    ReadValue(key, at, text);
    text += '|';
  }
}

void TableSnapshot::AppendStream(std::string& text, std::string_view attributes) const {
  size_t at = 0;
  for (const std::vector<size_t>& columns : layout_->slotColumns) {
    if (columns.empty()) continue;
    size_t copies = ReadCount(attributes, at);
    for (size_t copy = 0; copy < copies; ++copy) {
      for (size_t column : columns) {
        text += layout_->names[column];
        if (copy > 0) {
          text += '#';
          text += std::to_string(copy);
        }
        text += '=';
        ReadValue(attributes, at, text);
        text += '|';
      }
    }
  }
}

std::string TableSnapshot::Key(size_t i) const {
  std::string text;
  AppendKey(text, At(entries_[i]).key);
  return text;
}

std::string TableSnapshot::Stream(size_t i) const {
  std::string text;
  AppendStream(text, At(entries_[i]).attributes);
  return text;
}

TableSnapshot TableSnapshot::Build(const SnapshotQuery& query, const std::vector<TabEntry>& rows) {
  SnapshotBuilder builder(query);
  for (const TabEntry& row : rows) builder.Row(row);
  return builder.Finish();
}

SnapshotBuilder::SnapshotBuilder(const SnapshotQuery& query)
    : layout_(std::make_shared<const SnapshotLayout>(query)) {
  Restart();
}

void SnapshotBuilder::Restart() {
  snapshot_ = TableSnapshot();
  snapshot_.layout_ = layout_;
  std::vector<Pending>().swap(pending_);
}

bool SnapshotBuilder::Row(const TabEntry& row) {
  key_.clear();
  for (size_t column : layout_->keyColumns) AppendValue(key_, row.GetAt(column));
  attributes_.clear();
  for (size_t slot = 0; slot < layout_->slotColumns.size(); ++slot) {
    const std::vector<size_t>& columns = layout_->slotColumns[slot];
    if (columns.empty()) continue;
    // A joined table whose values are all empty had no row for this object.
    bool none = slot > 0 && std::all_of(columns.begin(), columns.end(),
                                        [&](size_t column) { return row.GetAt(column).empty(); });
    AppendCount(attributes_, none ? 0 : 1);
    if (!none)
      for (size_t column : columns) AppendValue(attributes_, row.GetAt(column));
  }
  const uint64_t prefix = Prefix(key_);
  // A row of the object before: the two become one record in place of the last one, so
  // that rows sent by key leave no record behind.
  if (!pending_.empty() && pending_.back().prefix == prefix && snapshot_.At(pending_.back().entry).key == key_) {
    TableSnapshot::Entry& last = pending_.back().entry;
    merged_.clear();
    MergeAttributes(*layout_, {snapshot_.At(last).attributes, attributes_}, merged_);
    snapshot_.lastBlockUsed_ = last.offset;  // the last record stored
    last = snapshot_.Store(key_, merged_);
    return true;
  }
  pending_.push_back({prefix, snapshot_.Store(key_, attributes_)});
  return true;
}

TableSnapshot SnapshotBuilder::Finish() {
  TableSnapshot& snapshot = snapshot_;
  std::sort(pending_.begin(), pending_.end(), [&](const Pending& a, const Pending& b) {
    return a.prefix != b.prefix ? a.prefix < b.prefix : snapshot.At(a.entry).key < snapshot.At(b.entry).key;
  });

  snapshot.entries_.reserve(pending_.size());
  std::vector<std::string_view> parts;
  for (size_t first = 0; first < pending_.size();) {
    // Rows of one object share their prefix; most neighbours differ in it, and their
    // records need not be read at all.
    size_t last = first + 1;
    while (last < pending_.size() && pending_[last].prefix == pending_[first].prefix &&
           snapshot.At(pending_[last].entry).key == snapshot.At(pending_[first].entry).key)
      ++last;
    if (last - first == 1) {
      snapshot.entries_.push_back(pending_[first].entry);
      first = last;
      continue;
    }
    // Several rows of one object that did not come one after the other.
    parts.clear();
    for (size_t member = first; member < last; ++member) parts.push_back(snapshot.At(pending_[member].entry).attributes);
    attributes_.clear();
    MergeAttributes(*layout_, parts, attributes_);
    key_.assign(snapshot.At(pending_[first].entry).key);
    snapshot.entries_.push_back(snapshot.Store(key_, attributes_));
    first = last;
  }
  if (snapshot.entries_.capacity() - snapshot.entries_.size() > snapshot.entries_.size() / 8)
    snapshot.entries_.shrink_to_fit();

  TableSnapshot finished = std::move(snapshot_);
  Restart();
  return finished;
}

void CompareSnapshots(const TableSnapshot& before, const TableSnapshot& after, const ChangeReport& report) {
  std::string key, stream;
  auto send = [&](TableChange change, const TableSnapshot& from, const TableSnapshot::Record& record) {
    key.clear();
    stream.clear();
    from.AppendKey(key, record.key);
    from.AppendStream(stream, record.attributes);
    return report(change, key, stream);
  };
  size_t b = 0, a = 0;
  while (b < before.Size() || a < after.Size()) {
    TableSnapshot::Record was = b < before.Size() ? before.At(before.entries_[b]) : TableSnapshot::Record{};
    TableSnapshot::Record is = a < after.Size() ? after.At(after.entries_[a]) : TableSnapshot::Record{};
    int order = b == before.Size() ? 1 : a == after.Size() ? -1 : was.key.compare(is.key);
    bool goOn = true;
    if (order < 0) {
      goOn = send(kRowDeleted, before, was);
      ++b;
    } else if (order > 0) {
      goOn = send(kRowCreated, after, is);
      ++a;
    } else {
      if (was.attributes != is.attributes) goOn = send(kRowModified, after, is);
      ++b;
      ++a;
    }
    if (!goOn) return;
  }
}

}  // namespace auralink::poll
