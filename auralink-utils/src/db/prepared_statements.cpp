#include "db/prepared_statements.h"

namespace auralink::db {

PreparedStatement* PreparedStatements::Find(std::string_view shape) {
  auto found = byShape_.find(shape);
  if (found == byShape_.end()) return nullptr;
  recency_.splice(recency_.begin(), recency_, found->second);  // iterators stay valid
  return &*found->second;
}

PreparedStatement& PreparedStatements::Add(PreparedStatement statement) {
  if (PreparedStatement* earlier = Find(statement.shape)) Remove(*earlier);
  while (byShape_.size() >= kLimit) Remove(recency_.back());
  recency_.push_front(std::move(statement));
  byShape_.emplace(recency_.front().shape, recency_.begin());
  return recency_.front();
}

void PreparedStatements::Remove(PreparedStatement& statement) {
  auto found = byShape_.find(statement.shape);
  if (found == byShape_.end()) return;
  auto node = found->second;
  byShape_.erase(found);
  recency_.erase(node);
}

void PreparedStatements::Clear() {
  byShape_.clear();
  recency_.clear();
}

}  // namespace auralink::db
