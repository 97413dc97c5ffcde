#include "dataset/TxMtiOrder.h"

#include <algorithm>
#include <utility>

namespace Tx {
namespace {

std::size_t At(int i) { return static_cast<std::size_t>(i); }
int LowBit(int i) { return i & -i; }

}  // namespace

// ---- Row ids and occurrences -------------------------------------------------------

void TTxSortedRows::TreeAdd(int Row, int Delta) {
  const int size = static_cast<int>(FTree.size()) - 1;
  for (int i = Row + 1; i <= size; i += LowBit(i)) FTree[At(i)] += Delta;
}

int TTxSortedRows::TreeLiveUpTo(int Row) const {
  int sum = 0;
  for (int i = Row + 1; i > 0; i -= LowBit(i)) sum += FTree[At(i)];
  return sum;
}

int TTxSortedRows::TreeFind(int Rank) const {
  const int size = static_cast<int>(FTree.size()) - 1;
  int step = 1;
  while (step * 2 <= size) step *= 2;
  int at = 0;
  for (; step > 0; step /= 2) {
    if (at + step <= size && FTree[At(at + step)] < Rank) {
      at += step;
      Rank -= FTree[At(at)];
    }
  }
  return at;  // tree index at + 1 is the row, whose id is at
}

void TTxSortedRows::TreePush() {
  const int index = static_cast<int>(FTree.size());  // tree index of the new id
  // The node covers ids (index - lowbit, index]: the live ones before it, and itself.
  FTree.push_back(TreeLiveUpTo(index - 2) - TreeLiveUpTo(index - LowBit(index) - 1) + 1);
}

// ---- Building --------------------------------------------------------------------------

void TTxSortedRows::Build(std::vector<std::string> Keys, const std::vector<int>& Order) {
  const int count = static_cast<int>(Keys.size());
  FKeys = std::move(Keys);
  FLive = count;
  FTree.assign(At(count) + 1, 0);
  for (int i = 1; i <= count; ++i) FTree[At(i)] = LowBit(i);  // every id live
  FBlockOf.assign(At(count), 0);
  FIndexIn.assign(At(count), 0);
  FBlocks.clear();
  FRanked.clear();
  FRankOf.clear();
  FStart.clear();
  FFreeBlocks.clear();
  for (int from = 0; from < count; from += kBlockSize) {
    const int block = static_cast<int>(FBlocks.size());
    const int to = std::min(count, from + kBlockSize);
    FBlocks.emplace_back(Order.begin() + from, Order.begin() + to);
    for (int i = from; i < to; ++i) {
      FBlockOf[At(Order[At(i)])] = block;
      FIndexIn[At(Order[At(i)])] = i - from;
    }
    FRankOf.push_back(block);
    FRanked.push_back(block);
    FStart.push_back(from);
  }
}

// ---- Positions ---------------------------------------------------------------------------

int TTxSortedRows::RankOfPosition(int Position) const {
  // The last block starting at or before the position.
  return static_cast<int>(std::upper_bound(FStart.begin(), FStart.end(), Position - 1) - FStart.begin()) - 1;
}

int TTxSortedRows::OccAt(int Position) const {
  const int rank = RankOfPosition(Position);
  const std::vector<int>& block = FBlocks[At(FRanked[At(rank)])];
  return OccOfRow(block[At(Position - 1 - FStart[At(rank)])]);
}

int TTxSortedRows::PositionOf(int Occ) const {
  const int row = RowOfOcc(Occ);
  return FStart[At(FRankOf[At(FBlockOf[At(row)])])] + FIndexIn[At(row)] + 1;
}

// The position a key takes among the rows: before the first whose key is not smaller.
int TTxSortedRows::InsertionPoint(const std::string& Key) const {
  auto lastKey = [this](int block) -> const std::string& { return FKeys[At(FBlocks[At(block)].back())]; };
  const auto rank = std::partition_point(FRanked.begin(), FRanked.end(),
                                         [&](int block) { return lastKey(block) < Key; }) -
                    FRanked.begin();
  if (rank == static_cast<long>(FRanked.size())) return FLive + 1;
  const std::vector<int>& block = FBlocks[At(FRanked[At(static_cast<int>(rank))])];
  const auto index = std::partition_point(block.begin(), block.end(),
                                          [&](int row) { return FKeys[At(row)] < Key; }) -
                     block.begin();
  return FStart[At(static_cast<int>(rank))] + static_cast<int>(index) + 1;
}

void TTxSortedRows::Place(int Row, int Position) {
  if (FRanked.empty()) {
    int block;
    if (!FFreeBlocks.empty()) {
      block = FFreeBlocks.back();
      FFreeBlocks.pop_back();
    } else {
      block = static_cast<int>(FBlocks.size());
      FBlocks.emplace_back();
      FRankOf.push_back(0);
    }
    FBlocks[At(block)] = {Row};
    FRanked = {block};
    FRankOf[At(block)] = 0;
    FStart = {0};
    FBlockOf[At(Row)] = block;
    FIndexIn[At(Row)] = 0;
    return;
  }
  // A position past the last row goes to the end of the last block.
  const int rank = Position > FLive ? static_cast<int>(FRanked.size()) - 1 : RankOfPosition(Position);
  const int blockId = FRanked[At(rank)];
  std::vector<int>& block = FBlocks[At(blockId)];
  const int index = Position - 1 - FStart[At(rank)];
  block.insert(block.begin() + index, Row);
  FBlockOf[At(Row)] = blockId;
  for (int i = index; i < static_cast<int>(block.size()); ++i) FIndexIn[At(block[At(i)])] = i;
  for (std::size_t r = At(rank) + 1; r < FStart.size(); ++r) ++FStart[r];
  if (static_cast<int>(block.size()) > 2 * kBlockSize) SplitBlock(rank);
}

void TTxSortedRows::SplitBlock(int Rank) {
  int fresh;
  if (!FFreeBlocks.empty()) {
    fresh = FFreeBlocks.back();
    FFreeBlocks.pop_back();
  } else {
    fresh = static_cast<int>(FBlocks.size());
    FBlocks.emplace_back();
    FRankOf.push_back(0);
  }
  std::vector<int>& block = FBlocks[At(FRanked[At(Rank)])];
  const auto half = static_cast<long>(block.size() / 2);
  std::vector<int>& upper = FBlocks[At(fresh)];
  upper.assign(block.begin() + half, block.end());
  block.resize(At(static_cast<int>(half)));
  for (int i = 0; i < static_cast<int>(upper.size()); ++i) {
    FBlockOf[At(upper[At(i)])] = fresh;
    FIndexIn[At(upper[At(i)])] = i;
  }
  FRanked.insert(FRanked.begin() + Rank + 1, fresh);
  FStart.insert(FStart.begin() + Rank + 1, FStart[At(Rank)] + static_cast<int>(half));
  for (std::size_t r = At(Rank) + 1; r < FRanked.size(); ++r) FRankOf[At(FRanked[r])] = static_cast<int>(r);
}

void TTxSortedRows::Remove(int Row) {
  const int blockId = FBlockOf[At(Row)];
  const int rank = FRankOf[At(blockId)];
  std::vector<int>& block = FBlocks[At(blockId)];
  const int index = FIndexIn[At(Row)];
  block.erase(block.begin() + index);
  for (int i = index; i < static_cast<int>(block.size()); ++i) FIndexIn[At(block[At(i)])] = i;
  for (std::size_t r = At(rank) + 1; r < FStart.size(); ++r) --FStart[r];
  if (block.empty()) {
    FRanked.erase(FRanked.begin() + rank);
    FStart.erase(FStart.begin() + rank);
    for (std::size_t r = At(rank); r < FRanked.size(); ++r) FRankOf[At(FRanked[r])] = static_cast<int>(r);
    FFreeBlocks.push_back(blockId);
  }
}

// ---- Changes -------------------------------------------------------------------------------

void TTxSortedRows::Change(int Occ, std::string Key) {
  const int row = RowOfOcc(Occ);
  --FLive;
  Remove(row);
  FKeys[At(row)] = std::move(Key);
  const int position = InsertionPoint(FKeys[At(row)]);
  Place(row, position);
  ++FLive;
}

void TTxSortedRows::Append(std::string Key) {
  const int row = static_cast<int>(FKeys.size());
  const int position = InsertionPoint(Key);
  FKeys.push_back(std::move(Key));
  FBlockOf.push_back(0);
  FIndexIn.push_back(0);
  TreePush();
  Place(row, position);
  ++FLive;
}

void TTxSortedRows::Erase(int Occ) {
  const int row = RowOfOcc(Occ);
  Remove(row);
  TreeAdd(row, -1);
  FKeys[At(row)] = std::string();
  --FLive;
  CompactIfSparse();
}

// When dead ids outnumber the live rows, the rows are numbered afresh
// (occurrence = row id again): linear, and rare enough to cost O(1) a delete.
void TTxSortedRows::CompactIfSparse() {
  const int ids = static_cast<int>(FKeys.size());
  if (ids - FLive <= FLive + 1024) return;
  std::vector<int> order;
  order.reserve(At(FLive));
  std::vector<int> occOfRow(At(ids), -1);
  int occ = 0;
  for (int row = 0; row < ids; ++row)
    if (TreeLiveUpTo(row) - (row > 0 ? TreeLiveUpTo(row - 1) : 0) == 1) occOfRow[At(row)] = occ++;
  std::vector<std::string> keys(At(FLive));
  for (const int block : FRanked)
    for (const int row : FBlocks[At(block)]) {
      order.push_back(occOfRow[At(row)]);
      keys[At(occOfRow[At(row)])] = std::move(FKeys[At(row)]);
    }
  Build(std::move(keys), order);
}

}  // namespace Tx
