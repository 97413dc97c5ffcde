// The rows of a cursor's sort order, kept up one row at a time.
// Internal to the data-set folder: used by TTxMti only.
//
// Every row gets a row id when it enters, and ids rise with occurrences: the
// live ids in rising order are occurrences 0, 1, 2 ... A Fenwick tree over the
// live ids turns an id into its occurrence and back in O(log n), so deleting
// a row renumbers nothing; until the first delete, id and occurrence are the
// same number and the tree is not consulted. Positions live in blocks of a few hundred rows,
// kept in order with the number of rows before each: moving one row shifts
// one block and the blocks' start numbers, never the whole order. Each row's
// sort key is kept beside it; keys compare as bytes.
#pragma once

#include <string>
#include <vector>

namespace Tx {

class TTxSortedRows {
 public:
  // Rows for occurrences 0..Keys.size()-1 with these keys, in the order
  // Order gives (occurrences, a permutation).
  void Build(std::vector<std::string> Keys, const std::vector<int>& Order);
  int Count() const noexcept { return FLive; }
  // The occurrence at position 1..Count().
  int OccAt(int Position) const;
  // The position of occurrence 0..Count()-1.
  int PositionOf(int Occ) const;
  // Occurrence Occ has a new key: it moves to where the key belongs.
  void Change(int Occ, std::string Key);
  // A new last occurrence with this key.
  void Append(std::string Key);
  // Occurrence Occ is gone; the occurrences above it move down by one.
  void Erase(int Occ);

 private:
  static constexpr int kBlockSize = 256;  // rows per block when built; split at twice that

  // Fenwick tree over row ids: 1 for a live row.
  void TreeAdd(int Row, int Delta);
  int TreeLiveUpTo(int Row) const;  // live rows with ids 0..Row
  int TreeFind(int Rank) const;     // the id of the Rank-th live row (1-based)
  void TreePush();                  // a new live id at the end

  // While no row has been erased since the last build, ids and occurrences
  // coincide and need no tree walk: moving to a bookmark, reading the current
  // record's occurrence and browsing are then O(1).
  bool Dense() const noexcept { return static_cast<int>(FKeys.size()) == FLive; }
  int RowOfOcc(int Occ) const { return Dense() ? Occ : TreeFind(Occ + 1); }
  int OccOfRow(int Row) const { return Dense() ? Row : TreeLiveUpTo(Row) - 1; }
  int RankOfPosition(int Position) const;  // the block holding a position
  int InsertionPoint(const std::string& Key) const;
  void Place(int Row, int Position);
  void Remove(int Row);
  void SplitBlock(int Rank);
  void CompactIfSparse();

  std::vector<int> FTree;  // 1-based
  int FLive = 0;
  std::vector<std::string> FKeys;  // by row id; empty for dead rows
  std::vector<int> FBlockOf;       // by row id
  std::vector<int> FIndexIn;       // by row id: index within its block
  std::vector<std::vector<int>> FBlocks;  // by block id: row ids in order
  std::vector<int> FRanked;               // block ids in order, none empty
  std::vector<int> FRankOf;               // by block id
  std::vector<int> FStart;                // by rank: rows in the blocks before
  std::vector<int> FFreeBlocks;
};

}  // namespace Tx
