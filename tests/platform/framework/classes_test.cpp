#include "platform/framework/Classes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Tx {
namespace {

// ---- Components that report what happens to them ------------------------------

struct Journal {
  std::vector<std::string> Lines;
  void Add(const std::string& line) { Lines.push_back(line); }
};

class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, const char* name, Journal* journal)
      : TComponent(owner), FJournal(journal) {
    SetName(name);
  }
  // A component freed by its dying owner is already marked csDestroying
  // (and no longer in the owner's list); one deleted on its own is not yet.
  ~TProbe() override {
    const bool byOwner = ComponentState().Contains(csDestroying);
    FJournal->Add("free " + Name().str() + (byOwner ? " (by owner)" : ""));
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (AComponent != this && !ComponentState().Contains(csDestroying)) {
      FJournal->Add(Name().str() + (Operation == opInsert ? " +" : " -") +
                    AComponent->Name().str());
    }
    if (Operation == opRemove && AComponent == FWatched) FWatched = nullptr;
    TComponent::Notification(AComponent, Operation);
  }
  TComponent* FWatched = nullptr;

 private:
  Journal* FJournal;
};

TEST(ComponentOwnership, OwnerFreesItsComponentsLastInsertedFirst) {
  Journal log;
  auto* owner = new TComponent(nullptr);
  new TProbe(owner, "A", &log);
  new TProbe(owner, "B", &log);
  new TProbe(owner, "C", &log);
  log.Lines.clear();
  delete owner;
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"free C (by owner)", "free B (by owner)",
                                               "free A (by owner)"}));
}

TEST(ComponentOwnership, DestroyingReachesTheWholeTree) {
  Journal log;
  auto* owner = new TComponent(nullptr);
  auto* inner = new TProbe(owner, "Inner", &log);
  new TProbe(inner, "Leaf", &log);
  log.Lines.clear();
  delete owner;
  // The derived destructor runs before the base frees what it owns.
  EXPECT_EQ(log.Lines,
            (std::vector<std::string>{"free Inner (by owner)", "free Leaf (by owner)"}));
}

TEST(ComponentOwnership, ChildDeletedFirstLeavesOwnersList) {
  Journal log;
  TComponent owner(nullptr);
  auto* a = new TProbe(&owner, "A", &log);
  auto* b = new TProbe(&owner, "B", &log);
  delete a;
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), b);
  EXPECT_EQ(b->ComponentIndex(), 0);
  EXPECT_EQ(owner.FindComponent("A"), nullptr);
}

TEST(ComponentOwnership, ComponentIndexOutOfBoundsRaisesListError) {
  TComponent owner(nullptr);
  new TComponent(&owner);
  try {
    owner.Components(1);
    FAIL() << "no exception";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message, "List index out of bounds (1)");
  }
  EXPECT_THROW(owner.Components(-1), EListError);
}

TEST(ComponentOwnership, InsertMovesComponentFromPreviousOwner) {
  TComponent first(nullptr);
  TComponent second(nullptr);
  auto* c = new TComponent(&first);
  second.InsertComponent(c);
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_EQ(second.ComponentCount(), 1);
  EXPECT_EQ(c->Owner(), &second);
}

TEST(ComponentOwnership, OwningOnesOwnOwnerIsRefused) {
  TComponent root(nullptr);
  auto* child = new TComponent(&root);
  EXPECT_THROW(child->InsertComponent(&root), EComponentError);
  EXPECT_EQ(root.Owner(), nullptr);
  EXPECT_EQ(child->ComponentCount(), 0);
}

class TRefusingOwner : public TComponent {
 public:
  TRefusingOwner() : TComponent(nullptr) {}
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == opInsert) throw EComponentError(AnsiString("refused"));
    TComponent::Notification(AComponent, Operation);
  }
};

TEST(ComponentOwnership, FailedInsertLeavesNoTrace) {
  TRefusingOwner owner;
  EXPECT_THROW(new TComponent(&owner), EComponentError);
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(ComponentNames, FindComponentIgnoresCase) {
  Journal log;
  TComponent owner(nullptr);
  auto* service = new TProbe(&owner, "Service1", &log);
  EXPECT_EQ(owner.FindComponent("SERVICE1"), service);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
}

TEST(ComponentNames, DuplicateNameIsRefusedAndNameKept) {
  Journal log;
  TComponent owner(nullptr);
  new TProbe(&owner, "Client", &log);
  auto* other = new TProbe(&owner, "Other", &log);
  try {
    other->SetName("CLIENT");
    FAIL() << "no exception";
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message, "A component named CLIENT already exists");
  }
  EXPECT_EQ(other->Name(), "Other");
}

TEST(ComponentNames, InvalidIdentifierIsRefused) {
  TComponent c(nullptr);
  try {
    c.SetName("9 lives");
    FAIL() << "no exception";
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message, "'9 lives' is not a valid component name");
  }
  EXPECT_EQ(c.Name(), "");
}

TEST(ComponentNotification, InsertAndRemoveReachTheOwnersComponents) {
  Journal log;
  TComponent owner(nullptr);
  new TProbe(&owner, "Watcher", &log);
  auto* c = new TProbe(&owner, "", &log);
  c->SetName("New");
  delete c;
  // The new component is still unnamed when it is inserted; its removal is
  // announced by the base destructor, after the derived one.
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"Watcher +", "free New", "Watcher -New"}));
}

TEST(ComponentNotification, RemoveComponentNotifiesBeforeReleasing) {
  Journal log;
  TComponent owner(nullptr);
  auto* watcher = new TProbe(&owner, "Watcher", &log);
  auto* c = new TProbe(&owner, "C", &log);
  log.Lines.clear();
  owner.RemoveComponent(c);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"Watcher -C"}));
  EXPECT_EQ(c->Owner(), nullptr);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), watcher);
  delete c;
}

TEST(ComponentNotification, FreeNotificationCrossesOwners) {
  Journal log;
  auto* formA = new TComponent(nullptr);
  TComponent formB(nullptr);
  auto* source = new TProbe(formA, "Source", &log);
  auto* watcher = new TProbe(&formB, "Watcher", &log);
  watcher->FWatched = source;
  source->FreeNotification(watcher);
  EXPECT_TRUE(source->ComponentState().Contains(csFreeNotification));
  log.Lines.clear();
  delete formA;
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"free Source (by owner)", "Watcher -Source"}));
  EXPECT_EQ(watcher->FWatched, nullptr);
}

TEST(ComponentNotification, FreeNotificationLinkEndsWithEitherSide) {
  Journal log;
  auto* a = new TProbe(nullptr, "A", &log);
  auto* b = new TProbe(nullptr, "B", &log);
  a->FreeNotification(b);
  delete b;  // a must forget b, or the next line reaches freed memory
  log.Lines.clear();
  delete a;
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"free A"}));
}

TEST(ComponentNotification, RemoveFreeNotificationStopsTheNotice) {
  Journal log;
  auto* a = new TProbe(nullptr, "A", &log);
  TProbe b(nullptr, "B", &log);
  a->FreeNotification(&b);
  a->RemoveFreeNotification(&b);
  log.Lines.clear();
  delete a;
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"free A"}));
}

TEST(ComponentState, LoadedClearsLoading) {
  TComponent c(nullptr);
  c.SetLoading();
  c.SetReading(true);
  EXPECT_TRUE(c.ComponentState().Contains(csLoading));
  c.SetReading(false);
  c.Loaded();
  EXPECT_TRUE(c.ComponentState().Empty());
}

TEST(ComponentState, DesigningReachesOwnedAndLaterInsertedComponents) {
  TComponent form(nullptr);
  auto* early = new TComponent(&form);
  form.SetDesigning(true);
  auto* late = new TComponent(&form);
  EXPECT_TRUE(early->ComponentState().Contains(csDesigning));
  EXPECT_TRUE(late->ComponentState().Contains(csDesigning));
  form.SetDesigning(false, false);
  EXPECT_FALSE(form.ComponentState().Contains(csDesigning));
  EXPECT_TRUE(early->ComponentState().Contains(csDesigning));
}

// ---- Persistent objects -----------------------------------------------------------

class TColour : public TPersistent {
 public:
  int Value = 0;
};
class TShade : public TPersistent {
 public:
  int Value = 0;
  void AssignTo(TPersistent* Dest) override {
    if (auto* colour = dynamic_cast<TColour*>(Dest)) {
      colour->Value = Value * 10;
      return;
    }
    TPersistent::AssignTo(Dest);
  }
};

TEST(PersistentAssign, IncompatibleClassesRaiseConvertError) {
  TColour colour;
  TComponent component(nullptr);
  try {
    colour.Assign(&component);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a TComponent to a TColour");
  }
  try {
    colour.Assign(nullptr);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a nil to a TColour");
  }
}

TEST(PersistentAssign, SourceAssignToDoesTheCopy) {
  TColour colour;
  TShade shade;
  shade.Value = 4;
  colour.Assign(&shade);
  EXPECT_EQ(colour.Value, 40);
  EXPECT_THROW(shade.Assign(&colour), EConvertError);
}

// ---- Collections ---------------------------------------------------------------------

class TField : public TCollectionItem {
 public:
  explicit TField(TCollection* collection) : TCollectionItem(collection), Size(-1) {}
  void Assign(TPersistent* Source) override {
    if (auto* other = dynamic_cast<TField*>(Source)) {
      Text = other->Text;
      Size = other->Size;
      return;
    }
    TCollectionItem::Assign(Source);
  }
  AnsiString GetDisplayName() const override { return Text; }
  AnsiString Text;
  int Size;
};

class TOtherItem : public TCollectionItem {
 public:
  using TCollectionItem::TCollectionItem;
};

class TFieldList : public TOwnedCollection {
 public:
  explicit TFieldList(TPersistent* owner)
      : TOwnedCollection(owner, TCollectionItemClass::Of<TField>()) {}
  TField* Add() { return static_cast<TField*>(TCollection::Add()); }
  std::vector<std::string> Log;

 protected:
  void Notify(TCollectionItem* Item, TCollectionNotification Action) override {
    static const char* const names[] = {"added", "extracting", "deleting"};
    // An added item must already be a whole TField with its initial values.
    const auto* field = dynamic_cast<TField*>(Item);
    Log.push_back(std::string(names[Action]) + (field ? " size " + std::to_string(field->Size) : " ?"));
  }
  void Update(TCollectionItem* Item) override {
    Log.push_back(Item ? "update item" : "update all");
  }
};

TFieldList* Fill(TFieldList* list, std::initializer_list<int> sizes) {
  for (int size : sizes) {
    TField* f = list->Add();
    f->Size = size;
    f->Text = AnsiString("F") + AnsiString(size);
  }
  return list;
}

std::vector<int> Sizes(const TCollection& c) {
  std::vector<int> sizes;
  for (int i = 0; i < c.Count(); ++i) sizes.push_back(static_cast<TField*>(c.Items(i))->Size);
  return sizes;
}

TEST(CollectionItems, AddAnnouncesWholeItemAndDeleteFreesIt) {
  TFieldList list(nullptr);
  list.Add();
  list.Add();
  list.Delete(0);
  EXPECT_EQ(list.Log, (std::vector<std::string>{"added size -1", "update all", "added size -1",
                                                "update all", "deleting size -1",
                                                "extracting size -1", "update all"}));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->ID(), 1);
  EXPECT_EQ(list.FindItemID(0), nullptr);
}

TEST(CollectionItems, IndexErrorsCarryTheIndex) {
  TFieldList list(nullptr);
  Fill(&list, {1, 2});
  for (int bad : {-1, 2}) {
    try {
      list.Items(bad);
      FAIL() << "no exception for " << bad;
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message, "List index out of bounds (" + std::to_string(bad) + ")");
    }
  }
  EXPECT_THROW(list.Delete(2), EListError);
  EXPECT_THROW(list.Insert(3), EListError);
  EXPECT_THROW(list.Items(0)->SetIndex(5), EListError);
  EXPECT_EQ(Sizes(list), (std::vector<int>{1, 2}));
}

TEST(CollectionItems, InsertAndSetIndexReorder) {
  TFieldList list(nullptr);
  Fill(&list, {1, 2, 3});
  static_cast<TField*>(list.Insert(0))->Size = 0;
  list.Items(3)->SetIndex(1);
  EXPECT_EQ(Sizes(list), (std::vector<int>{0, 3, 1, 2}));
  EXPECT_EQ(list.Items(2)->Index(), 2);
}

TEST(CollectionItems, ClearSendsOneUpdate) {
  TFieldList list(nullptr);
  Fill(&list, {1, 2, 3});
  list.Log.clear();
  list.Clear();
  EXPECT_EQ(list.Log, (std::vector<std::string>{"extracting size 3", "extracting size 2",
                                                "extracting size 1", "update all"}));
  EXPECT_EQ(list.Count(), 0);
}

TEST(CollectionItems, ItemDeletedDirectlyLeavesCollection) {
  TFieldList list(nullptr);
  Fill(&list, {1, 2, 3});
  delete list.Items(1);
  EXPECT_EQ(Sizes(list), (std::vector<int>{1, 3}));
}

TEST(CollectionItems, ItemOfAnotherClassCannotMoveIn) {
  TFieldList fields(nullptr);
  TCollection others(TCollectionItemClass::Of<TOtherItem>());
  TCollectionItem* stranger = others.Add();
  try {
    stranger->SetCollection(&fields);
    FAIL() << "no exception";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message, "Invalid property value");
  }
  EXPECT_EQ(stranger->Collection(), &others);
  EXPECT_EQ(fields.Count(), 0);
}

TEST(CollectionAssign, CopiesEveryItemThroughItsAssign) {
  TFieldList source(nullptr);
  TFieldList target(nullptr);
  Fill(&source, {10, 20, 30});
  Fill(&target, {99});
  target.Log.clear();
  target.Assign(&source);
  EXPECT_EQ(Sizes(target), (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(static_cast<TField*>(target.Items(2))->Text, "F30");
  EXPECT_NE(target.Items(0), source.Items(0));
  EXPECT_EQ(target.Log.back(), "update all");
  EXPECT_EQ(std::count(target.Log.begin(), target.Log.end(), "update all"), 1);
}

TEST(CollectionAssign, IncompatibleItemsRaiseAndKeepTheOldItems) {
  TFieldList target(nullptr);
  Fill(&target, {7, 8});
  TCollectionItem* kept = target.Items(0);
  TCollection others(TCollectionItemClass::Of<TOtherItem>());
  others.Add();
  try {
    target.Assign(&others);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a TOtherItem to a TField");
  }
  EXPECT_EQ(Sizes(target), (std::vector<int>{7, 8}));
  EXPECT_EQ(target.Items(0), kept);
  EXPECT_EQ(target.Items(1)->Index(), 1);
}

TEST(CollectionAssign, NonCollectionSourceRaises) {
  TFieldList target(nullptr);
  TComponent component(nullptr);
  try {
    target.Assign(&component);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a TComponent to a TFieldList");
  }
}

TEST(CollectionOwner, NamePathRunsThroughTheOwningComponent) {
  Journal log;
  TProbe service(nullptr, "Service1", &log);
  TFieldList contract(&service);
  contract.SetPropName("SendContract");
  Fill(&contract, {1, 2});
  EXPECT_EQ(contract.GetOwner(), &service);
  EXPECT_EQ(contract.Items(1)->GetOwner(), &contract);
  EXPECT_EQ(contract.Items(1)->GetNamePath(), "Service1.SendContract[1]");
  TFieldList loose(nullptr);
  EXPECT_EQ(loose.GetNamePath(), "TFieldList");
}

// ---- Closures ---------------------------------------------------------------------------

class THandler : public TObject {
 public:
  void OnChange(TObject* Sender) { Senders.push_back(Sender); }
  void OnOther(TObject* /*Sender*/) {}
  virtual int Weigh(int n, const AnsiString& unit) const { return n + unit.Length(); }
  std::vector<TObject*> Senders;
};
class THeavyHandler : public THandler {
 public:
  int Weigh(int n, const AnsiString& unit) const override { return 1000 * n + unit.Length(); }
};

TEST(Closures, EqualWhenSameMethodOfSameObject) {
  THandler h1;
  THandler h2;
  const TNotifyEvent a(&h1, &THandler::OnChange);
  EXPECT_EQ(a, TNotifyEvent(&h1, &THandler::OnChange));
  EXPECT_FALSE(a == TNotifyEvent(&h2, &THandler::OnChange));
  EXPECT_FALSE(a == TNotifyEvent(&h1, &THandler::OnOther));
  EXPECT_TRUE(TNotifyEvent() == nullptr);
  EXPECT_FALSE(a == nullptr);
}

TEST(Closures, CallPassesArgumentsAndEmptyCallRaises) {
  THandler h;
  TComponent sender(nullptr);
  TNotifyEvent onChange(&h, &THandler::OnChange);
  onChange(&sender);
  EXPECT_EQ(h.Senders, (std::vector<TObject*>{&sender}));
  onChange = nullptr;
  EXPECT_THROW(onChange(&sender), EInvalidOperation);
}

TEST(Closures, VirtualMethodReachesTheOverride) {
  THeavyHandler heavy;
  const TClosure<int(int, const AnsiString&)> weigh(&heavy, &THandler::Weigh);
  EXPECT_EQ(weigh(3, "kg"), 3002);
}

}  // namespace
}  // namespace Tx
