// Data sources and data links of the data-access unit.
#include <algorithm>

#include "platform/framework/Db.h"

namespace Tx {

// ---- TDataSource -----------------------------------------------------------------

TDataSource::TDataSource(TComponent* AOwner) : TComponent(AOwner) {}

TDataSource::~TDataSource() {
  Destroying();
  while (!FDataLinks.empty()) FDataLinks.back()->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* Value) {
  if (Value == FDataSet) return;
  if (FDataSet) {
    TDataSet* old = FDataSet;
    old->RemoveDataSource(this);
    FDataSet = nullptr;
    old->UpdateBufferCount();
  }
  FDataSet = Value;
  if (Value) Value->AddDataSource(this);
  UpdateState();
}

void TDataSource::SetEnabled(bool Value) {
  FEnabled = Value;
  UpdateState();
}

void TDataSource::Edit() {
  if (FAutoEdit && FState == dsBrowse && FDataSet) FDataSet->Edit();
}

void TDataSource::UpdateState() {
  SetState(FEnabled && FDataSet ? FDataSet->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState Value) {
  if (FState == Value) return;
  const TDataSetState prior = FState;
  FState = Value;
  NotifyDataLinks(deUpdateState, 0);
  if (ComponentState().Contains(csDestroying)) return;
  if (OnStateChange) OnStateChange(this);
  if (prior == dsInactive && OnDataChange) OnDataChange(this, nullptr);
}

void TDataSource::DataEvent(TDataEvent Event, long Info) {
  if (Event == deUpdateState) {
    UpdateState();
    return;
  }
  if (FState == dsInactive) return;
  NotifyDataLinks(Event, Info);
  switch (Event) {
    case deFieldChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(Info));
      break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

void TDataSource::NotifyDataLinks(TDataEvent Event, long Info) {
  const std::vector<TDataLink*> links = FDataLinks;
  for (TDataLink* link : links) link->DataEvent(Event, Info);
}

void TDataSource::AddDataLink(TDataLink* Link) {
  FDataLinks.push_back(Link);
  Link->FDataSource = this;
  if (FDataSet) FDataSet->UpdateBufferCount();
  Link->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* Link) noexcept {
  FDataLinks.erase(std::remove(FDataLinks.begin(), FDataLinks.end(), Link), FDataLinks.end());
  Link->FDataSource = nullptr;
}

// ---- TDataLink ----------------------------------------------------------------------

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  FActive = false;
  FEditing = false;
  if (FDataSource) FDataSource->RemoveDataLink(this);
}

void TDataLink::SetDataSource(TDataSource* Value) {
  if (Value == FDataSource) return;
  if (FDataSource) {
    TDataSource* old = FDataSource;
    old->RemoveDataLink(this);
    UpdateState();
    if (old->DataSet()) old->DataSet()->UpdateBufferCount();
  }
  if (Value) Value->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const noexcept { return FDataSource ? FDataSource->DataSet() : nullptr; }

void TDataLink::SetReadOnly(bool Value) {
  if (FReadOnly == Value) return;
  FReadOnly = Value;
  UpdateState();
}

void TDataLink::SetBufferCount(int Value) {
  if (Value < 1) Value = 1;
  if (FBufferCount == Value) return;
  FBufferCount = Value;
  if (FActive) {
    DataSet()->UpdateBufferCount();
    UpdateRange();
  }
}

int TDataLink::ActiveRecord() const noexcept {
  return FActive ? DataSet()->FActiveRecord - FFirstRecord : 0;
}

void TDataLink::SetActiveRecord(int Value) {
  if (FActive) DataSet()->FActiveRecord = Value + FFirstRecord;
}

int TDataLink::RecordCount() const noexcept {
  if (!FActive) return 0;
  return std::max(0, std::min(DataSet()->FRecordCount - FFirstRecord, FBufferCount));
}

bool TDataLink::Edit() {
  if (!FReadOnly && FDataSource) FDataSource->Edit();
  return FEditing;
}

void TDataLink::UpdateRecord() {
  FUpdating = true;
  try {
    UpdateData();
  } catch (...) {
    FUpdating = false;
    throw;
  }
  FUpdating = false;
}

void TDataLink::UpdateState() {
  const TDataSetState state = FDataSource ? FDataSource->State() : dsInactive;
  SetActive(state != dsInactive);
  SetEditing((state == dsEdit || state == dsInsert || state == dsSetKey) && !FReadOnly);
}

void TDataLink::SetActive(bool Value) {
  if (FActive == Value) return;
  FActive = Value;
  if (Value)
    UpdateRange();
  else
    FFirstRecord = 0;
  ActiveChanged();
}

void TDataLink::SetEditing(bool Value) {
  if (FEditing == Value) return;
  FEditing = Value;
  EditingChanged();
}

// Keeps the active record inside the window and the window inside the ring.
void TDataLink::UpdateRange() {
  const TDataSet* dataSet = DataSet();
  const int active = dataSet->FActiveRecord;
  const int lowest = std::max(0, active - FBufferCount + 1);
  const int highest = std::max(0, std::min(active, dataSet->FBufferCount - FBufferCount));
  FFirstRecord = std::clamp(FFirstRecord, lowest, std::max(lowest, highest));
}

void TDataLink::DataEvent(TDataEvent Event, long Info) {
  if (Event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!FActive) return;
  switch (Event) {
    case deFieldChange:
    case deRecordChange:
      if (!FUpdating) RecordChanged(reinterpret_cast<TField*>(Info));
      break;
    case deDataSetScroll: {
      // Info: how far the buffered records moved in the ring.
      const int oldFirst = FFirstRecord + static_cast<int>(Info);
      FFirstRecord = oldFirst;
      UpdateRange();
      DataSetScrolled(FFirstRecord - oldFirst);
      break;
    }
    case deDataSetChange:
      UpdateRange();
      DataSetChanged();
      break;
    case deLayoutChange:
      UpdateRange();
      LayoutChanged();
      break;
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deFocusControl:
      FocusControl(reinterpret_cast<TField*>(Info));
      break;
    default:
      break;
  }
}

}  // namespace Tx
