// A stand-in for an XML parser registered by someone else: it offers only
// the DOM interfaces, so the import reads its documents node by node. It
// forwards to one document of ours, so both ways parse alike. Shared by the
// import's tests and its fuzz target.
#pragma once

#include <utility>

#include "platform/framework/Com.h"
#include "platform/xml/XmlDom.h"

namespace Tx {

class TDomOnlyDocument final : public TComObject<IXmlDomDocument> {
 public:
  explicit TDomOnlyDocument(TComInterface<IXmlDomDocument> inner) : FInner(std::move(inner)) {}

  HRESULT get_attributes(IXmlDomNamedNodeMap** map) override { return FInner->get_attributes(map); }
  HRESULT get_text(WideString* text) override { return FInner->get_text(text); }
  HRESULT selectNodes(const WideString& query, IXmlDomNodeList** list) override {
    return FInner->selectNodes(query, list);
  }
  HRESULT put_async(VARIANT_BOOL value) override { return FInner->put_async(value); }
  HRESULT put_resolveExternals(VARIANT_BOOL value) override {
    return FInner->put_resolveExternals(value);
  }
  HRESULT loadXML(const WideString& xml, VARIANT_BOOL* ok) override {
    return FInner->loadXML(xml, ok);
  }

 private:
  TComInterface<IXmlDomDocument> FInner;
};

// While it lives, CLSID_TxXmlDomDocument makes TDomOnlyDocument objects,
// all over one document of ours (made when it starts). COM must be started.
class TDomOnlyParser {
 public:
  TDomOnlyParser() : FRegistration(CLSID_TxXmlDomDocument, "", CLSCTX_INPROC_SERVER, Factory()) {}

 private:
  static TComClassFactory Factory() {
    TComInterface<IXmlDomDocument> inner;
    OleCheck(CoCreateInstance(CLSID_TxXmlDomDocument, nullptr, CLSCTX_INPROC_SERVER, inner));
    return [inner](IUnknown*, TComInterface<IUnknown>& object) {
      object = TComInterface<IUnknown>((new TDomOnlyDocument(inner))->Identity());
      return S_OK;
    };
  }

  TComClassRegistration FRegistration;
};

}  // namespace Tx
