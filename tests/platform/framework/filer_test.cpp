// Form files: the binary layout byte for byte, the text form, conversions
// both ways, defaults and stored conditions, the reading states and Loaded
// order, component lookup and creation, and every refusal with its message
// and with the components left as they were.
#include "platform/framework/Filer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework_test_support.h"

namespace Tx {
namespace {

using FrameworkTest::Raised;

std::vector<std::string> gEvents;  // Loaded calls and states seen by setters

enum TShape : unsigned char { shCircle, shSquare, shTriangle };

class TTestItem : public TCollectionItem {
 public:
  explicit TTestItem(TCollection* c) : TCollectionItem(c) {}
  AnsiString GetLabel() const { return FLabel; }
  void SetLabel(const AnsiString& v) { FLabel = v; }
  int GetWeight() const { return FWeight; }
  void SetWeight(int v) { FWeight = v; }

 private:
  AnsiString FLabel;
  int FWeight = 1;
};

// A persistent object published by a property, with data of its own.
class TTestFont : public TPersistent {
 public:
  AnsiString GetName() const { return FName; }
  void SetName(const AnsiString& v) { FName = v; }
  void DefineProperties(TFiler* Filer) override {
    Filer->DefineProperty("Extra", TReaderProc(this, &TTestFont::ReadExtra),
                          TWriterProc(this, &TTestFont::WriteExtra), Extra != 0);
    Filer->DefineBinaryProperty("Blob", TStreamProc(this, &TTestFont::ReadBlob),
                                TStreamProc(this, &TTestFont::WriteBlob), !Blob.empty());
  }
  void ReadExtra(TReader* r) { Extra = r->ReadInteger(); }
  void WriteExtra(TWriter* w) { w->WriteInteger(Extra); }
  void ReadBlob(TStream* s) {
    Blob.assign(static_cast<std::size_t>(s->GetSize()), '\0');
    s->ReadBuffer(Blob.data(), s->GetSize());
  }
  void WriteBlob(TStream* s) {
    s->WriteBuffer(Blob.data(), static_cast<std::int64_t>(Blob.size()));
  }

  int Extra = 0;
  std::string Blob;

 private:
  AnsiString FName;
};

class TTestGadget : public TComponent {
 public:
  explicit TTestGadget(TComponent* owner)
      : TComponent(owner), FItems(this, TCollectionItemClass::Of<TTestItem>()) {}
  void Loaded() override {
    TComponent::Loaded();
    gEvents.push_back("Loaded " + Name().str());
  }

  int GetCount() const { return FCount; }
  void SetCount(int v) {
    const TComponentState s = ComponentState();
    gEvents.push_back(std::string("Count while") + (s.Contains(csLoading) ? " loading" : "") +
                      (s.Contains(csReading) ? " reading" : ""));
    FCount = v;
  }
  int GetPriority() const { return FPriority; }
  void SetPriority(int v) {
    if (v < 0) throw EPropertyError(AnsiString("Priority below zero"));
    FPriority = v;
  }
  long long GetBig() const { return FBig; }
  void SetBig(long long v) { FBig = v; }
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool v) { FEnabled = v; }
  TShape GetShape() const { return FShape; }
  void SetShape(TShape v) { FShape = v; }
  unsigned GetOptions() const { return FOptions; }
  void SetOptions(unsigned v) { FOptions = v; }
  double GetRatio() const { return FRatio; }
  void SetRatio(double v) { FRatio = v; }
  AnsiString GetCaption() const { return FCaption; }
  void SetCaption(const AnsiString& v) { FCaption = v; }
  TTestFont* GetFont() { return &FFont; }
  void SetFont(TTestFont* v) { FFont.SetName(v->GetName()); }
  TOwnedCollection* GetItems() { return &FItems; }
  void SetItems(TOwnedCollection* v) { FItems.Assign(v); }
  TTestGadget* GetBuddy() const { return FBuddy; }
  void SetBuddy(TTestGadget* v) { FBuddy = v; }
  int GetSecret() const { return 7; }
  void SetSecret(int) {}
  bool NeverStored() const { return false; }
  int GetVersion() const { return 42; }

 private:
  int FCount = 0;
  int FPriority = 3;
  long long FBig = 0;
  bool FEnabled = true;
  TShape FShape = shCircle;
  unsigned FOptions = 0;
  double FRatio = 0;
  AnsiString FCaption;
  TTestFont FFont;
  TOwnedCollection FItems;
  TTestGadget* FBuddy = nullptr;
};

class TTestModule : public TComponent {
 public:
  explicit TTestModule(TComponent* owner = nullptr) : TComponent(owner) {}
  void Loaded() override {
    TComponent::Loaded();
    gEvents.push_back("Loaded " + Name().str());
  }
};

class TOtherModule : public TComponent {
 public:
  explicit TOtherModule(TComponent* owner = nullptr) : TComponent(owner) {}
};

void Publish() {
  PublishClass<TTestItem, TCollectionItem>("TTestItem")
      .String("Label", &TTestItem::GetLabel, &TTestItem::SetLabel)
      .Integer("Weight", &TTestItem::GetWeight, &TTestItem::SetWeight)
      .Default(1);
  PublishClass<TTestFont, TPersistent>("TTestFont")
      .String("Name", &TTestFont::GetName, &TTestFont::SetName);
  using G = TTestGadget;
  PublishClass<TTestGadget, TComponent>("TTestGadget")
      .Integer("Count", &G::GetCount, &G::SetCount)
      .Integer("Priority", &G::GetPriority, &G::SetPriority)
      .Default(3)
      .Int64("Big", &G::GetBig, &G::SetBig)
      .Default(0)
      .Bool("Enabled", &G::GetEnabled, &G::SetEnabled)
      .Default(true)
      .Enum("Shape", &G::GetShape, &G::SetShape, {"shCircle", "shSquare", "shTriangle"})
      .Default(shCircle)
      .SetOf("Options", &G::GetOptions, &G::SetOptions, {"opBold", "opItalic", "opWide"})
      .Default(0)
      .Float("Ratio", &G::GetRatio, &G::SetRatio)
      .String("Caption", &G::GetCaption, &G::SetCaption)
      .Object("Font", &G::GetFont, &G::SetFont)
      .Object("Items", &G::GetItems, &G::SetItems)
      .Object("Buddy", &G::GetBuddy, &G::SetBuddy)
      .Integer("Secret", &G::GetSecret, &G::SetSecret)
      .Stored(&G::NeverStored)
      .Integer("Version", &G::GetVersion, nullptr);
  PublishClass<TTestModule, TComponent>("TTestModule");
  PublishClass<TOtherModule, TComponent>("TOtherModule");
}
[[maybe_unused]] const bool kPublished = (Publish(), true);

std::string Bytes(TMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.GetSize()));
}
std::string Binary(TComponent* root) {
  TMemoryStream s;
  WriteComponentToStream(&s, root, TFormFileFormat::ffBinary);
  return Bytes(s);
}
std::string Text(TComponent* root) {
  TMemoryStream s;
  WriteComponentToStream(&s, root, TFormFileFormat::ffText);
  return Bytes(s);
}
void Read(const std::string& form, TComponent* root) {
  TMemoryStream s;
  s.WriteBuffer(form.data(), static_cast<std::int64_t>(form.size()));
  s.SetPosition(0);
  ReadComponentFromStream(&s, root);
}
std::string ToText(const std::string& binary) {
  TMemoryStream in, out;
  in.WriteBuffer(binary.data(), static_cast<std::int64_t>(binary.size()));
  in.SetPosition(0);
  ObjectBinaryToText(&in, &out);
  return Bytes(out);
}
std::string ToBinary(const std::string& text) {
  TMemoryStream in, out;
  in.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  in.SetPosition(0);
  ObjectTextToBinary(&in, &out);
  return Bytes(out);
}

// A module with every kind of property set away from its default.
struct Filled {
  TTestModule module;
  TTestGadget* a = new TTestGadget(&module);
  TTestGadget* b = new TTestGadget(&module);
  Filled() {
    module.SetName("Mod");
    a->SetName("A");
    b->SetName("B");
    a->SetCount(5);
    a->SetPriority(0);
    a->SetBig(5000000000LL);
    a->SetEnabled(false);
    a->SetShape(shTriangle);
    a->SetOptions(5);
    a->SetRatio(0.1);
    a->SetCaption("Dzień 'dobry'"_ansi);
    a->GetFont()->SetName("Arial");
    a->GetFont()->Extra = -300;
    a->GetFont()->Blob = std::string("\x01\x02\xFF", 3);
    static_cast<TTestItem*>(a->GetItems()->Add())->SetLabel("first");
    static_cast<TTestItem*>(a->GetItems()->Add())->SetWeight(70000);
    a->SetBuddy(b);
    a->SetTag(-1);
    gEvents.clear();
  }
};

const char kFilledText[] =
    "object Mod: TTestModule\n"
    "  object A: TTestGadget\n"
    "    Tag = -1\n"
    "    Count = 5\n"
    "    Priority = 0\n"
    "    Big = 5000000000\n"
    "    Enabled = False\n"
    "    Shape = shTriangle\n"
    "    Options = [opBold, opWide]\n"
    "    Ratio = 0.1\n"
    "    Caption = 'Dzie'#324' ''dobry'''\n"
    "    Font.Name = 'Arial'\n"
    "    Font.Extra = -300\n"
    "    Font.Blob = {\n"
    "      0102FF}\n"
    "    Items = <\n"
    "      item\n"
    "        Label = 'first'\n"
    "      end\n"
    "      item\n"
    "        Weight = 70000\n"
    "      end>\n"
    "    Buddy = B\n"
    "  end\n"
    "  object B: TTestGadget\n"
    "    Count = 0\n"
    "  end\n"
    "end\n";

// ---- Layout ------------------------------------------------------------------------

TEST(FormBinary, LayoutByteForByte) {
  TTestModule module;
  module.SetName("M");
  auto* g = new TTestGadget(&module);
  g->SetName("G");
  g->SetCount(-2);
  g->SetCaption("Hi");
  g->SetOptions(2);
  g->SetShape(shSquare);
  g->SetRatio(1.0);
  const std::string expected =
      std::string("TPF0\x0BTTestModule\x01M\x00", 19) + std::string("\x0BTTestGadget\x01G", 14) +
      std::string(
          "\x05"
          "Count\x02\xFE",
          8) +
      std::string("\x05Shape\x07\x08shSquare", 16) +
      std::string("\x07Options\x0B\x08opItalic\x00", 19) +
      std::string("\x05Ratio\x05\x00\x00\x00\x00\x00\x00\x00\x80\xFF\x3F", 17) +
      std::string(
          "\x07"
          "Caption\x06\x02Hi",
          12) +
      std::string("\x00\x00\x00", 3);
  EXPECT_EQ(Binary(&module), expected);
}

TEST(FormBinary, IntegersTakeTheSmallestTag) {
  TTestModule module;
  auto* g = new TTestGadget(&module);
  for (const auto& [value, tail] :
       std::vector<std::pair<int, std::string>>{{127, std::string("\x02\x7F", 2)},
                                                {-129, std::string("\x03\x7F\xFF", 3)},
                                                {40000, std::string("\x04\x40\x9C\x00\x00", 5)}}) {
    g->SetCount(value);
    EXPECT_NE(Binary(&module).find("\x05"
                                   "Count" +
                                   tail),
              std::string::npos)
        << value;
  }
}

// ---- Text form and conversions ------------------------------------------------------------

TEST(FormText, EveryKindOfValueReadable) {
  Filled f;
  EXPECT_EQ(Text(&f.module), kFilledText);
}

TEST(FormText, ConversionsAreExactInverses) {
  Filled f;
  const std::string binary = Binary(&f.module);
  EXPECT_EQ(ToBinary(ToText(binary)), binary);
  EXPECT_EQ(ToText(ToBinary(kFilledText)), kFilledText);
}

TEST(FormText, StringsEscapesAndLongValues) {
  TTestModule module;
  auto* g = new TTestGadget(&module);
  g->SetName("G");
  g->SetCaption(AnsiString(std::string("a\tb\r\n", 5)) + "łó"_ansi);
  EXPECT_NE(Text(&module).find("Caption = 'a'#9'b'#13#10#322#243\n"), std::string::npos);

  g->SetCaption(AnsiString::StringOfChar('x', 300));
  const std::string text = Text(&module);
  EXPECT_NE(text.find("Caption = \n      '" + std::string(64, 'x') + "' +\n"), std::string::npos);
  TTestModule copy;
  Read(text, &copy);
  EXPECT_EQ(static_cast<TTestGadget*>(copy.FindComponent("G"))->GetCaption(), g->GetCaption());
}

TEST(FormText, NamesThatAreNoIdentifiersAreRefused) {
  // A name with a carriage return would read back as another name.
  const std::string binary = std::string("TPF0\x0BTTestModule\x03\x0Dod\x00\x00", 21);
  EXPECT_EQ(Raised([&] { ToText(binary); }),
            "EReadError: Damaged form data at byte 20: a name that is no identifier");
}

TEST(FormText, WrittenByHandAndReadTheSameWay) {
  // Hexadecimal numbers, UTF-8 typed in quotes, float suffixes, an empty
  // set and collection, a nil reference, flags in the header.
  const std::string text =
      "inherited Mod: TTestModule\n"
      "  object G: TTestGadget [2]\n"
      "    Count = $1F\n"
      "    Caption = 'Zażółć' + #65\n"
      "    Ratio = 2.5s\n"
      "    Options = []\n"
      "    Items = <>\n"
      "    Buddy = nil\n"
      "  end\n"
      "end\n";
  const std::string binary = ToBinary(text);
  EXPECT_EQ(binary.substr(0, 5), std::string("TPF0\xF1", 5));
  TTestModule module;
  Read(text, &module);
  auto* g = static_cast<TTestGadget*>(module.FindComponent("G"));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->GetCount(), 31);
  EXPECT_EQ(g->GetCaption(), "ZażółćA"_ansi);
  EXPECT_EQ(g->GetRatio(), 2.5);
  EXPECT_EQ(ToText(binary),
            "inherited Mod: TTestModule\n  object G: TTestGadget [2]\n    Count = 31\n"
            "    Caption = 'Za'#380#243#322#263'A'\n    Ratio = 2.5s\n    Options = []\n"
            "    Items = <>\n    Buddy = nil\n  end\nend\n");
}

// ---- Round trips, defaults ----------------------------------------------------------------

TEST(FormRoundTrip, EveryPropertyComesBack) {
  Filled f;
  for (const std::string& form : {Binary(&f.module), Text(&f.module)}) {
    TTestModule copy;
    Read(form, &copy);
    EXPECT_EQ(copy.Name(), "Mod");
    ASSERT_EQ(copy.ComponentCount(), 2);
    auto* a = static_cast<TTestGadget*>(copy.Components(0));
    EXPECT_EQ(a->Name(), "A");
    EXPECT_EQ(a->Tag(), -1);
    EXPECT_EQ(a->GetCount(), 5);
    EXPECT_EQ(a->GetPriority(), 0);
    EXPECT_EQ(a->GetBig(), 5000000000LL);
    EXPECT_FALSE(a->GetEnabled());
    EXPECT_EQ(a->GetShape(), shTriangle);
    EXPECT_EQ(a->GetOptions(), 5U);
    EXPECT_EQ(a->GetRatio(), 0.1);
    EXPECT_EQ(a->GetCaption(), f.a->GetCaption());
    EXPECT_EQ(a->GetFont()->GetName(), "Arial");
    EXPECT_EQ(a->GetFont()->Extra, -300);
    EXPECT_EQ(a->GetFont()->Blob, f.a->GetFont()->Blob);
    ASSERT_EQ(a->GetItems()->Count(), 2);
    EXPECT_EQ(static_cast<TTestItem*>(a->GetItems()->Items(0))->GetLabel(), "first");
    EXPECT_EQ(static_cast<TTestItem*>(a->GetItems()->Items(1))->GetWeight(), 70000);
    EXPECT_EQ(a->GetBuddy(), copy.Components(1));
  }
}

TEST(FormRoundTrip, FloatsKeepEveryBit) {
  TTestModule module;
  auto* g = new TTestGadget(&module);
  g->SetName("G");
  for (const double v : {1e300, -2.5e-310, 1.0 / 3.0, -0.0 + 7e-5}) {
    g->SetRatio(v);
    for (const std::string& form : {Binary(&module), Text(&module)}) {
      TTestModule copy;
      Read(form, &copy);
      EXPECT_EQ(static_cast<TTestGadget*>(copy.FindComponent("G"))->GetRatio(), v);
    }
  }
}

TEST(FormDefaults, OnlyWhatDiffersIsWritten) {
  TTestModule module;
  module.SetName("M");
  (new TTestGadget(&module))->SetName("G");
  // Count has no declared default; Secret is never stored; Version has no setter.
  EXPECT_EQ(Text(&module),
            "object M: TTestModule\n  object G: TTestGadget\n    Count = 0\n  end\nend\n");
}

// ---- Reading ------------------------------------------------------------------------------

TEST(FormReading, StatesAndLoadedOrder) {
  Filled f;
  const std::string form = Binary(&f.module);
  TTestModule copy;
  auto* existing = new TTestGadget(&copy);
  existing->SetName("B");
  gEvents.clear();
  Read(form, &copy);
  EXPECT_EQ(gEvents,
            (std::vector<std::string>{"Count while loading reading", "Count while loading reading",
                                      "Loaded Mod", "Loaded A", "Loaded B"}));
  EXPECT_EQ(copy.Components(0), existing);  // found by name, not made again
  for (int i = 0; i < copy.ComponentCount(); ++i) {
    EXPECT_TRUE(copy.Components(i)->ComponentState().Empty());
  }
  EXPECT_TRUE(copy.ComponentState().Empty());
}

TEST(FormReading, WithoutRootTheFormsClassIsMade) {
  Filled f;
  TMemoryStream s;
  WriteComponentToStream(&s, &f.module);
  s.SetPosition(0);
  std::unique_ptr<TComponent> made(ReadComponentFromStream(&s, nullptr));
  ASSERT_NE(dynamic_cast<TTestModule*>(made.get()), nullptr);
  EXPECT_EQ(made->ComponentCount(), 2);
}

TEST(FormReading, FilesInBothFormats) {
  Filled f;
  const AnsiString path = AnsiString(::testing::TempDir()) + "filer_test.dfm";
  for (const TFormFileFormat format : {TFormFileFormat::ffText, TFormFileFormat::ffBinary}) {
    WriteComponentFile(path, &f.module, format);
    TTestModule copy;
    ReadComponentFile(path, &copy);
    EXPECT_EQ(Text(&copy), kFilledText);
  }
}

// ---- Refusals -------------------------------------------------------------------------------

// Reads form into a module holding one gadget G (Count 9) and checks that
// the module is as it was afterwards.
std::string Refusal(const std::string& form) {
  TTestModule module;
  module.SetName("Keep");
  auto* g = new TTestGadget(&module);
  g->SetName("G");
  g->SetCount(9);
  const std::string before = Text(&module);
  const std::string raised = Raised([&] { Read(form, &module); });
  EXPECT_EQ(Text(&module), before) << raised;
  EXPECT_TRUE(module.ComponentState().Empty());
  return raised;
}

TEST(FormRefusals, DamagedOrForeignFormsChangeNothing) {
  Filled f;
  const std::string good = Binary(&f.module);
  EXPECT_EQ(Refusal("TPF1" + good.substr(4)),
            "EParserError: 'object' expected but 'TPF1' found on line 1");
  EXPECT_EQ(Refusal(good.substr(0, good.size() - 3)), "EReadError: Damaged form data at byte " +
                                                          std::to_string(good.size() - 3) +
                                                          ": unexpected end of data");
  std::string badTag = good;
  badTag[badTag.find("\x05"
                     "Count") +
         6] = '\x30';
  EXPECT_EQ(Refusal(badTag), "EReadError: Damaged form data at byte " +
                                 std::to_string(good.find("\x05"
                                                          "Count") +
                                                7) +
                                 ": unknown value type");
  std::string longLength = good;
  const std::size_t blob = longLength.find("Blob") + 5;
  longLength[blob + 3] = '\x7F';
  EXPECT_EQ(Refusal(longLength), "EReadError: Damaged form data at byte " +
                                     std::to_string(blob + 4) + ": length beyond the data");
  EXPECT_EQ(Refusal("object Keep: TTestModule\n object X: TNope\n end\nend\n"),
            "EClassNotFound: Class TNope not found");
  EXPECT_EQ(Refusal("object Keep: TOtherModule\nend\n"),
            "EReadError: The form holds a TOtherModule, not a TTestModule");
}

TEST(FormRefusals, PropertyErrorsNameTheirPath) {
  EXPECT_EQ(Refusal("object Keep: TTestModule\n object N: TTestGadget\n  Nope = 1\n end\nend\n"),
            "EReadError: Error reading N.Nope: Property Nope does not exist");
  EXPECT_EQ(
      Refusal("object Keep: TTestModule\n object N: TTestGadget\n  Shape = shOval\n end\nend\n"),
      "EReadError: Error reading N.Shape: Invalid property value");
  EXPECT_EQ(Refusal("object Keep: TTestModule\n object N: TTestGadget\n  Count = 'x'\n end\nend\n"),
            "EReadError: Error reading N.Count: Invalid property value");
  EXPECT_EQ(Refusal("object Keep: TTestModule\n object N: TTestGadget\n  Version = 1\n end\nend\n"),
            "EReadError: Error reading N.Version: Property Version is read-only");
  EXPECT_EQ(
      Refusal("object Keep: TTestModule\n object N: TTestGadget\n  Font.Size = 1\n end\nend\n"),
      "EReadError: Error reading N.Font.Size: Property Size does not exist");
  EXPECT_EQ(
      Refusal("object Keep: TTestModule\n object N: TTestGadget\n  Buddy = Ghost\n end\nend\n"),
      "EReadError: Error reading N.Buddy: component Ghost not found");
  EXPECT_EQ(
      Refusal("object Keep: TTestModule\n object N: TTestGadget\n  Buddy = Keep\n end\nend\n"),
      "EPropertyError: Error reading N.Buddy: Invalid property value");
  // The setter's own exception class stays.
  EXPECT_EQ(
      Refusal("object Keep: TTestModule\n object N: TTestGadget\n  Priority = -1\n end\nend\n"),
      "EPropertyError: Error reading N.Priority: Priority below zero");
  EXPECT_EQ(Refusal("object Keep: TTestModule\n object N: TTestGadget\n"
                    "  Items = <\n   item\n    Weight = 'w'\n   end>\n end\nend\n"),
            "EReadError: Error reading N.Items: Invalid property value");
}

TEST(FormRefusals, TextErrorsNameTheirLine) {
  EXPECT_EQ(Refusal("object Keep: TTestModule\n  Tag 5\nend\n"),
            "EParserError: '=' expected but '5' found on line 2");
  EXPECT_EQ(Refusal("object Keep: TTestModule\n  Tag = 'open\nend\n"),
            "EParserError: Unterminated string on line 2");
  EXPECT_EQ(
      Refusal(
          "object Keep: TTestModule\n object G: TTestGadget\n  Font.Blob = {\n   0G}\n end\nend\n"),
      "EParserError: Invalid binary value on line 4");
  EXPECT_EQ(Refusal("object Keep: TTestModule\nend\nend\n"),
            "EParserError: End of file expected on line 3");
  EXPECT_EQ(Refusal("object Keep: TTestModule\n  Tag = 1\n"),
            "EParserError: 'end' expected but end of file found on line 3");
  EXPECT_EQ(Refusal("object Keep.X: TTestModule\nend\n"),
            "EParserError: Identifier expected but 'Keep.X' found on line 1");
  EXPECT_EQ(Refusal("object Keep: TTestModule\n  Tag = " + std::string(256, 'a') + "\nend\n"),
            "EParserError: Identifier too long on line 2");
  EXPECT_EQ(Refusal("object Keep: TTestModule\n  Tag = (1\n Null)\nend\n"),
            "EParserError: Null cannot stand in a list on line 3");
  EXPECT_EQ(Refusal(std::string(200, '(')),
            "EParserError: 'object' expected but '(' found on line 1");
  std::string deep = "object Keep: TTestModule\n Tag = ";
  for (int i = 0; i < 100; ++i) deep += "(";
  EXPECT_EQ(Refusal(deep), "EParserError: Values nested too deep on line 2");
}

TEST(FormWriting, RefusalsOfTheWriter) {
  TTestModule module;
  auto* g = new TTestGadget(&module);
  g->SetShape(static_cast<TShape>(9));
  EXPECT_EQ(Raised([&] { Binary(&module); }),
            "EWriteError: Property Shape holds no value of its type (9)");
}

}  // namespace
}  // namespace Tx
