#include "platform/framework/Classes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/framework/framework_test_support.h"

namespace Tx {
namespace {

using FrameworkTest::Raised;
using Lines = std::vector<std::string>;

// ---- Components that report what happens to them ------------------------------

class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, const char* name, Lines* journal)
      : TComponent(owner), FJournal(journal) {
    SetName(name);
  }
  // A component freed by its dying owner is already marked csDestroying
  // (and no longer in the owner's list); one deleted on its own is not yet.
  ~TProbe() override {
    const bool byOwner = ComponentState().Contains(csDestroying);
    FJournal->push_back("free " + Name().str() + (byOwner ? " (by owner)" : ""));
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (AComponent != this && !ComponentState().Contains(csDestroying)) {
      FJournal->push_back(Name().str() + (Operation == opInsert ? " +" : " -") +
                          AComponent->Name().str());
    }
    TComponent::Notification(AComponent, Operation);
  }

 private:
  Lines* FJournal;
};

// Each test keeps the journal its probes write to.
class ComponentOwnership : public ::testing::Test {
 protected:
  Lines FLog;
};
using ComponentNotification = ComponentOwnership;

TEST_F(ComponentOwnership, OwnerFreesItsTreeLastInsertedFirst) {
  auto* owner = new TComponent(nullptr);
  new TProbe(owner, "A", &FLog);
  auto* inner = new TProbe(owner, "Inner", &FLog);
  new TProbe(inner, "Leaf", &FLog);
  FLog.clear();
  delete owner;
  // The derived destructor runs before the base frees what it owns.
  EXPECT_EQ(FLog, (Lines{"free Inner (by owner)", "free Leaf (by owner)", "free A (by owner)"}));
}

TEST_F(ComponentOwnership, ChildDeletedFirstLeavesOwnersListAndBadNamesAreRefused) {
  TComponent owner(nullptr);
  delete new TProbe(&owner, "A", &FLog);
  auto* b = new TProbe(&owner, "B", &FLog);
  EXPECT_TRUE(owner.Components(0) == b && b->ComponentIndex() == 0);
  EXPECT_EQ(owner.FindComponent("a"), nullptr);
  EXPECT_EQ(owner.FindComponent("b"), b);  // names compare without case
  EXPECT_EQ(Raised([&] { owner.Components(1); }), "EListError: List index out of bounds (1)");
  auto* other = new TProbe(&owner, "Other", &FLog);
  EXPECT_EQ(Raised([&] { other->SetName("b"); }),
            "EComponentError: A component named b already exists");
  EXPECT_EQ(Raised([&] { other->SetName("9 lives"); }),
            "EComponentError: '9 lives' is not a valid component name");
  EXPECT_EQ(other->Name(), "Other");
}

class TRefusingOwner : public TComponent {
 public:
  TRefusingOwner() : TComponent(nullptr) {}
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == opInsert) throw EComponentError(AnsiString("refused"));
    TComponent::Notification(AComponent, Operation);
  }
};

TEST_F(ComponentOwnership, InsertMovesAComponentOrFailsWithoutATraceAndTheNewOneInheritsDesigning) {
  TComponent first(nullptr);
  TComponent second(nullptr);
  auto* c = new TComponent(&first);
  second.InsertComponent(c);
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_EQ(c->Owner(), &second);
  EXPECT_THROW(c->InsertComponent(&second), EComponentError);  // owning its own owner
  EXPECT_EQ(c->ComponentCount(), 0);
  TRefusingOwner refusing;
  EXPECT_THROW(new TComponent(&refusing), EComponentError);
  EXPECT_EQ(refusing.ComponentCount(), 0);
  second.SetDesigning(true);  // reaches components inserted later
  EXPECT_TRUE((new TComponent(&second))->ComponentState().Contains(csDesigning));
}

TEST_F(ComponentNotification, InsertRemoveAndFreeNotifications) {
  TComponent owner(nullptr);
  new TProbe(&owner, "Watcher", &FLog);
  auto* c = new TProbe(&owner, "", &FLog);
  c->SetName("New");
  delete c;
  auto* d = new TProbe(&owner, "D", &FLog);
  owner.RemoveComponent(d);  // releases without freeing
  EXPECT_EQ(d->Owner(), nullptr);
  delete d;
  // A new component is still unnamed when it is inserted; its removal is
  // announced by the base destructor, after the derived one.
  EXPECT_EQ(FLog,
            (Lines{"Watcher +", "free New", "Watcher -New", "Watcher +", "Watcher -D", "free D"}));
  // A free notification crosses owners until either side goes.
  auto* formA = new TComponent(nullptr);
  TComponent formB(nullptr);
  auto* source = new TProbe(formA, "Source", &FLog);
  source->FreeNotification(new TProbe(&formB, "Watcher", &FLog));
  auto* gone = new TProbe(nullptr, "Gone", &FLog);
  source->FreeNotification(gone);
  delete gone;  // source must forget it, or its destruction reaches freed memory
  auto* removed = new TProbe(nullptr, "Removed", &FLog);
  source->FreeNotification(removed);
  source->RemoveFreeNotification(removed);
  FLog.clear();
  delete formA;
  delete removed;
  EXPECT_EQ(FLog, (Lines{"free Source (by owner)", "Watcher -Source", "free Removed"}));
}

// ---- Collections and Assign ------------------------------------------------------------

class TField : public TCollectionItem {
 public:
  explicit TField(TCollection* collection) : TCollectionItem(collection), Size(-1) {}
  void Assign(TPersistent* Source) override {
    if (auto* other = dynamic_cast<TField*>(Source)) {
      Size = other->Size;
      return;
    }
    TCollectionItem::Assign(Source);
  }
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
  Lines Log;

 protected:
  void Notify(TCollectionItem* Item, TCollectionNotification Action) override {
    static const char* const names[] = {"added", "extracting", "deleting"};
    // An item must be a whole TField whenever it is announced.
    const auto* field = dynamic_cast<TField*>(Item);
    Log.push_back(std::string(names[Action]) +
                  (field ? " size " + std::to_string(field->Size) : " ?"));
  }
  void Update(TCollectionItem* Item) override {
    Log.push_back(Item ? "update item" : "update all");
  }
};

TFieldList* Fill(TFieldList* list, std::initializer_list<int> sizes) {
  for (int size : sizes) list->Add()->Size = size;
  list->Log.clear();
  return list;
}

std::vector<int> Sizes(const TCollection& c) {
  std::vector<int> sizes;
  for (int i = 0; i < c.Count(); ++i) sizes.push_back(static_cast<TField*>(c.Items(i))->Size);
  return sizes;
}

TEST(CollectionItems, AddAnnouncesWholeItemAndDeleteAndClearTakeItOutWhole) {
  TFieldList list(nullptr);
  list.Add();
  Fill(&list, {1, 2, 3});
  list.Delete(0);
  EXPECT_EQ(list.Log, (Lines{"deleting size -1", "extracting size -1", "update all"}));
  EXPECT_EQ(list.Items(0)->ID(), 1);
  EXPECT_EQ(list.FindItemID(0), nullptr);
  list.Log.clear();
  list.Clear();
  EXPECT_EQ(list.Log,
            (Lines{"extracting size 3", "extracting size 2", "extracting size 1", "update all"}));
  list.Add();
  EXPECT_EQ(list.Log.at(4), "added size -1");
}

TEST(CollectionItems, ReorderAndIndexErrorsThatChangeNothing) {
  TFieldList list(nullptr);
  Fill(&list, {1, 2, 3});
  static_cast<TField*>(list.Insert(0))->Size = 0;
  list.Items(3)->SetIndex(1);
  delete list.Items(2);  // an item deleted on its own leaves its collection
  EXPECT_EQ(Sizes(list), (std::vector<int>{0, 3, 2}));
  EXPECT_EQ(Raised([&] { list.Items(-1); }), "EListError: List index out of bounds (-1)");
  EXPECT_THROW(list.Delete(3), EListError);
  EXPECT_THROW(list.Insert(4), EListError);
  EXPECT_THROW(list.Items(0)->SetIndex(5), EListError);
  EXPECT_EQ(Sizes(list), (std::vector<int>{0, 3, 2}));
}

TEST(CollectionAssign, CopiesEveryItemWithOneUpdateOrRaisesAndChangesNothing) {
  TFieldList source(nullptr);
  TFieldList target(nullptr);
  Fill(&source, {10, 20});
  Fill(&target, {99});
  target.Assign(&source);
  EXPECT_EQ(Sizes(target), (std::vector<int>{10, 20}));
  EXPECT_EQ(std::count(target.Log.begin(), target.Log.end(), "update all"), 1);
  TCollectionItem* kept = target.Items(0);
  TCollection others(TCollectionItemClass::Of<TOtherItem>());
  TCollectionItem* stranger = others.Add();
  EXPECT_EQ(Raised([&] { target.Assign(&others); }),
            "EConvertError: Cannot assign a TOtherItem to a TField");
  EXPECT_EQ(Raised([&] { stranger->SetCollection(&target); }),  // an item of another class
            "EListError: Invalid property value");
  EXPECT_EQ(stranger->Collection(), &others);
  EXPECT_EQ(target.Items(0), kept);
  EXPECT_EQ(Sizes(target), (std::vector<int>{10, 20}));
  EXPECT_EQ(Raised([&] { stranger->Assign(nullptr); }),
            "EConvertError: Cannot assign a nil to a TOtherItem");
}

// ---- Closures ---------------------------------------------------------------------------

class THandler : public TObject {
 public:
  void OnChange(TObject* Sender) { Senders.push_back(Sender); }
  void OnOther(TObject* /*Sender*/) {}
  virtual int Weigh(int n) const { return n; }
  std::vector<TObject*> Senders;
};
class THeavyHandler : public THandler {
 public:
  int Weigh(int n) const override { return 1000 * n; }
};

TEST(Closures, EqualForTheSameMethodAndObjectCallableUnlessEmpty) {
  THandler h1;
  THandler h2;
  TNotifyEvent onChange(&h1, &THandler::OnChange);
  EXPECT_EQ(onChange, TNotifyEvent(&h1, &THandler::OnChange));
  EXPECT_FALSE(onChange == TNotifyEvent(&h2, &THandler::OnChange));
  EXPECT_FALSE(onChange == TNotifyEvent(&h1, &THandler::OnOther));
  onChange(&h2);
  EXPECT_EQ(h1.Senders, (std::vector<TObject*>{&h2}));
  THeavyHandler heavy;  // a pointer to a virtual method reaches the override
  EXPECT_EQ(TClosure<int(int)>(&heavy, &THandler::Weigh)(3), 3000);
  onChange = nullptr;
  EXPECT_TRUE(onChange == nullptr);
  EXPECT_EQ(Raised([&] { onChange(&h1); }), "EInvalidOperation: Call of an empty event handler");
}

}  // namespace
}  // namespace Tx
