// The call log: an outside COM component that records every service call an
// application makes, for auditing the use of the domain's services. The
// service component (service/TxServic.h) creates one for each call when the
// class is registered and uses it through the dual interface
// IQuorEventLogTX; without a registered class the calls go on unlogged.
//
// Nothing registers a component by default. QuorEventLogFile.h offers a
// ready one that appends a line per call to a text file; an application
// that keeps its audit elsewhere registers its own class under
// CLSID_QuorEventLog (RegisterComClass, Com.h).
//
// Conventions: strings cross as WideString (BSTR), integers as 32-bit LONG;
// every method returns an HRESULT, and an out argument is left untouched on
// failure. The service ignores every HRESULT of the component.
#pragma once

#include "platform/framework/Com.h"
#include "platform/framework/WideString.h"

namespace Tx {

// The class the service component creates, for an in-process, local or
// remote server, and its ProgID.
inline constexpr CLSID CLSID_QuorEventLog = "{BE786C12-8449-48BC-9449-4205FE592B27}"_guid;
inline constexpr char QuorEventLogProgID[] = "QuorEventLog";

struct IQuorEventLogTX : IDispatch {
  static constexpr IID Uuid = "{8A7B63C0-489C-4FF8-A7B5-5FF063DEA676}"_guid;
  using Base = IDispatch;

  // A tag for the call about to be made. The service sends it to the router
  // with the request, so that the router's records of the call can be
  // matched with this log's; each call asks for a new one.
  virtual HRESULT GetCallTag(WideString* CallTag) = 0;

  // Where the component keeps its records (a file name, a connection
  // text, ...), as the component understands it. Not used by the service.
  virtual HRESULT get_Target(WideString* Value) = 0;
  virtual HRESULT put_Target(const WideString& Value) = 0;

  // Records one call. The times are "hh:nn:ss.zzz" texts; Tperrno is the
  // ATMI error of the call (0 for success, 11 for a service that failed);
  // the byte counts are those used in the request and the reply buffers;
  // RequestXml is the request as ExportFMLToXML writes it (routing fields
  // included when the call went through the router); ErrorText is the
  // reply's error text field, empty when there is none.
  virtual HRESULT LogServiceCall(const WideString& ServiceName, const WideString& Login,
                                 const WideString& AppCode, const WideString& AppVersion,
                                 const WideString& Role, const WideString& Unit, LONG AppKey,
                                 LONG Tperrno, const WideString& StartTime,
                                 const WideString& EndTime, LONG SentBytes, LONG ReceivedBytes,
                                 const WideString& CallTag, const WideString& RequestXml,
                                 const WideString& ErrorText) = 0;

 protected:
  ~IQuorEventLogTX() = default;
};

}  // namespace Tx
