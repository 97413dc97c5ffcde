// TxServiceCache: the process-wide cache of service replies.
//
// For services whose Cached property is true, TTxService::Execute asks the
// cache before calling the domain and stores the reply after a successful
// call. The cache keeps, per service name, the replies of earlier calls with
// the requests that produced them; a later request equal to a stored one is
// answered with a copy of its reply, without any call, hook, dump or log.
//
// Areas. Services marked permanent keep their replies without limit. The
// replies of all other services share the normal area, bounded by
// BufferLimit (5,242,880 bytes at first, never below 1,048,576): before a
// reply is stored there, the oldest stored replies of services that are not
// permanent are discarded until the new one fits (or nothing is left to
// discard: the reply is stored all the same). The oldest is the call stored
// earliest, to the millisecond; of calls stored within one millisecond, that
// of the service cached first goes first, and a call is discarded even when
// it was stored in the current millisecond. A call counts as the allocated
// sizes of its request and reply buffers. Nothing expires by age;
// replies leave only by discarding, InvalidateCachedCall, ClearService or a
// newer reply to the same request.
//
// Requests. A stored call remembers its request as a key: for each field
// definition of the send buffer (its contract when it has one), the field id
// and the values of all its occurrences. A later request matches when, for
// every field of the key, it has as many occurrences with equal values;
// fields without a definition play no part. Values compare as the
// framework's variants do, except texts (strings, chars, carrays), which
// must be equal byte for byte: the locale comparison of variants overlooks
// control characters and zero bytes, and a cache must never answer one
// request with the reply to another.
// A send buffer without a contract has no reliable definitions (they are
// those of the last SyncFbfrDef, often none at all), so its key is made of
// the fields it actually holds, and a stored call of such a key matches
// only a request that holds exactly the same fields.
//
// A hit replaces the receive buffer with a fresh copy of the stored reply
// (and rebuilds its definitions) and sets the service's LastUrcode to the
// stored one; tperrno and tpurcode are left alone. When that copy cannot be
// allocated the call is not answered from the cache: the receive buffer
// keeps what it had and Execute calls the service, so an application never
// takes an old buffer for the reply.
//
// Every change and every hit writes a line to the debugger output
// (OutputDebugStringA; on this system the console shows it when
// TXLIB_DEBUG_OUTPUT is set):
//   "Cache hit: <service>"
//   "Adding/updating service call: <service>, size=<n>"
//   "Discarding service call: <service>, added=<time>, size=<n>"
// each followed by " (Buffer sizes: normal=<n> limited to:<n>, permanent=<n>)".
//
// Finding the stored call of a request: each call carries digests of its
// key. When all the calls of the service were stored with the request's key
// fields (the usual case: one contract), the calls whose values digest
// equals the request's are looked up directly, and only they are compared
// value by value, in the order they were stored; otherwise the calls are
// walked in order, one that cannot match costing a few integer comparisons.
//
// No locks: the cache is used from the application's thread only.
#pragma once

#include <fml32.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/framework/AnsiString.h"
#include "platform/framework/DateTime.h"
#include "platform/framework/Variant.h"

namespace Tx {

class TTxService;

// The cache as applications reach it (GlobalCacheControl). Objects are not
// deleted through this interface.
class ICacheControl {
 public:
  // The size limit of the normal area in bytes.
  virtual int GetBufferLimit() = 0;
  // Values below 1,048,576 are raised to it. A lower limit is applied when
  // the next reply is stored.
  virtual void SetBufferLimit(int Limit) = 0;
  // Bytes held by permanent services (true) or by the others (false).
  virtual int GetBufferSize(bool Permanent) = 0;
  // Marks the service permanent, moving the bytes it holds to the permanent
  // area; a permanent service never becomes normal again.
  virtual void SetServicePermanent(AnsiString ServiceName) = 0;
  // False for a service the cache has never seen.
  virtual bool IsServicePermanent(AnsiString ServiceName) = 0;
  // Answers Service's current request from the cache: true when it did (the
  // receive buffer and LastUrcode now hold the stored reply). Exceptions of
  // reading the request pass through.
  virtual bool CheckCache(TTxService* Service) = 0;
  // Stores Service's current reply for its current request, replacing an
  // older reply to the same request, after making room in the normal area.
  virtual void UpdateCachedCall(TTxService* Service) = 0;
  // Removes the stored reply to Service's current request; returns the bytes
  // freed, 0 when there was none.
  virtual int InvalidateCachedCall(TTxService* Service) = 0;
  // True when a reply to Service's current request is stored; changes nothing.
  virtual bool IsCachedCall(TTxService* Service) = 0;
  // Removes every stored reply of the service; it stays known (and
  // permanent when it was).
  virtual void ClearService(AnsiString ServiceName) = 0;

 protected:
  ~ICacheControl() = default;
};

// The process-wide cache, made on the first call and kept until the process
// ends (stored replies stay valid whatever is torn down first at exit).
ICacheControl* GlobalCacheControl();

// ---- The cache's records, as TTxServiceCache::Services() shows them ----

// Frees a stored reply with tpfree.
struct TTxCachedReplyFree {
  void operator()(FBFR32* Reply) const noexcept;
};
using TTxCachedReply = std::unique_ptr<FBFR32, TTxCachedReplyFree>;

// One field of a request key: the id and the value of every occurrence, in
// order. Texts are kept as wide (OLE) strings.
struct TTxCachedField {
  FLDID32 Id = 0;
  std::vector<Variant> Values;
};

// One stored call.
struct TTxCachedCall {
  TDateTime Added;                  // when it was stored
  int Size = 0;                     // allocated sizes of request and reply
  std::vector<TTxCachedField> Key;  // the request
  TTxCachedReply Reply;             // a copy of the reply; null when it could not be allocated
  long Urcode = 0;                  // the service's LastUrcode when stored
  bool KeyOfFieldsPresent = false;  // made from the fields held (no contract)
  std::uint64_t FieldsDigest = 0;   // of the key's field ids
  std::uint64_t ValuesDigest = 0;   // of the key's ids, counts and values
  std::uint64_t Sequence = 0;       // grows with every call stored in the cache
};

// The calls of one service name (compared case-sensitively).
struct TTxCachedService {
  TTxCachedService() = default;
  TTxCachedService(TTxCachedService&&) = default;
  TTxCachedService& operator=(TTxCachedService&&) = default;
  TTxCachedService(const TTxCachedService&) = delete;
  TTxCachedService& operator=(const TTxCachedService&) = delete;

  AnsiString Name;
  int Size = 0;                     // the sum of its calls' sizes
  std::deque<TTxCachedCall> Calls;  // oldest first
  bool Permanent = false;

  // Kept by the cache with Calls, to find the calls that may match a
  // request without walking them all: the Sequence of the calls by their
  // ValuesDigest, and how many calls there are of each FieldsDigest.
  std::unordered_multimap<std::uint64_t, std::uint64_t> CallsByDigest;
  std::unordered_map<std::uint64_t, std::size_t> CallsByLayout;
};

class TTxServiceCache final : public ICacheControl {
 public:
  static constexpr int DefaultBufferLimit = 0x500000;  // 5,242,880
  static constexpr int MinimumBufferLimit = 0x100000;  // 1,048,576

  TTxServiceCache() = default;
  // Frees every stored reply.
  ~TTxServiceCache() = default;
  TTxServiceCache(const TTxServiceCache&) = delete;
  TTxServiceCache& operator=(const TTxServiceCache&) = delete;

  int GetBufferLimit() override { return FLimit; }
  void SetBufferLimit(int Limit) override;
  int GetBufferSize(bool Permanent) override;
  void SetServicePermanent(AnsiString ServiceName) override;
  bool IsServicePermanent(AnsiString ServiceName) override;
  bool CheckCache(TTxService* Service) override;
  void UpdateCachedCall(TTxService* Service) override;
  int InvalidateCachedCall(TTxService* Service) override;
  bool IsCachedCall(TTxService* Service) override;
  void ClearService(AnsiString ServiceName) override;

  // Every service ever cached or marked permanent, in order of first use.
  const std::vector<TTxCachedService>& Services() const noexcept { return FServices; }
  // The record of a service, or nullptr.
  const TTxCachedService* FindService(const AnsiString& ServiceName) const;

 private:
  class TRequest;

  TTxCachedService* Find(const AnsiString& ServiceName);
  std::deque<TTxCachedCall>::iterator FirstMatch(TTxCachedService& Service, TRequest& Request);
  int Invalidate(TTxCachedService& Service, TRequest& Request);
  void AddCall(TTxCachedService& Service, TTxCachedCall Call);
  TTxCachedCall RemoveCall(TTxCachedService& Service, std::deque<TTxCachedCall>::iterator Call);
  void MakeRoom(long long Bytes);
  int& AreaSize(const TTxCachedService& Service) noexcept;
  void Log(const AnsiString& Message) const;

  int FLimit = DefaultBufferLimit;
  int FNormalSize = 0;
  int FPermanentSize = 0;
  std::uint64_t FLastSequence = 0;
  std::vector<TTxCachedService> FServices;
};

}  // namespace Tx
