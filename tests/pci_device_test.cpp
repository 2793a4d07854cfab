// The card's removal through the product key's "PNP ID": which keys go,
// which stay, and that no value read from the registry can widen a deletion.
#include "registry/pci_device.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/uninstall.h"
#include "platform/hosted/hosted.h"
#include "support/modem_machine.h"

namespace {

using testsupport::HasKey;
using testsupport::RegistryText;

const std::string ServiceKey = "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\TQ19KVN]";
const std::string SoftwareKey = "[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\TQ19KVN]";
const std::string ClassRoot = "System\\CurrentControlSet\\Services\\Class";

std::string Section(const std::string &path) { return "[HKEY_LOCAL_MACHINE\\" + path + "]"; }
// A text value as REGEDIT4 writes it: backslashes doubled.
std::string TextValue(const std::string &name, const std::string &value) {
  std::string escaped;
  for (char c : value) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "\"" + name + "\"=\"" + escaped + "\"";
}
std::string PnpId(const std::string &id) { return TextValue("PNP ID", id); }
// A text value stored without its terminator, as Windows keeps one written so.
std::string Unterminated(const std::string &name, const std::string &text) {
  std::string line = "\"" + name + "\"=hex(1):";
  const char digits[] = "0123456789abcdef";
  for (unsigned char c : text) {
    if (line.back() != ':') line += ',';
    line += {digits[c >> 4], digits[c & 15]};
  }
  return line;
}
std::string Driver(const std::string &value) { return TextValue("driver", value); }

struct PciCase {
  const char *name;
  std::vector<std::string> registry;
  std::vector<std::string> gone;  // below HKEY_LOCAL_MACHINE
  std::vector<std::string> kept;
  std::size_t boxes;
};
void PrintTo(const PciCase &c, std::ostream *os) { *os << c.name; }

// Neighbours every case carries, that no case may remove.
std::vector<std::string> Neighbours() {
  return {Section(ClassRoot + "\\Modem\\0001"),
          "\"DriverDesc\"=\"other\"",
          Section(ClassRoot + "\\Net\\0000"),
          "\"DriverDesc\"=\"net\"",
          Section("Enum\\PCI\\VEN_8086&DEV_7110\\0000"),
          Driver("System\\0000")};
}
const std::vector<std::string> NeighbourKeys = {
    ClassRoot + "\\Modem\\0001", ClassRoot + "\\Net\\0000", "Enum\\PCI\\VEN_8086&DEV_7110\\0000"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::string Id41(41, 'P');
const std::string Id42(42, 'P');
const std::string Instance39(39, 'I');
const std::string Instance40(40, 'I');
const std::string Driver39 = "Modem\\" + std::string(33, 'D');  // 39 characters
const std::string Driver40 = "Modem\\" + std::string(34, 'D');  // 40 characters

std::vector<PciCase> Cases() {
  std::string card = "Enum\\PCI\\VEN_1&DEV_2";
  return {
      {"ServiceKeyPreferred",
       {ServiceKey, PnpId("VEN_1&DEV_2"), SoftwareKey, PnpId("VEN_9&DEV_9"),
        Section(card + "\\0000"), Driver("Modem\\0000"), Section(ClassRoot + "\\Modem\\0000"),
        Section("Enum\\PCI\\VEN_9&DEV_9\\0000"), Driver("Modem\\0002"),
        Section(ClassRoot + "\\Modem\\0002")},
       {card, ClassRoot + "\\Modem\\0000"},
       {"Enum\\PCI\\VEN_9&DEV_9\\0000", ClassRoot + "\\Modem\\0002", "Software\\Quorvane\\TQ19KVN",
        "System\\CurrentControlSet\\Services\\TQ19KVN"},
       0},
      {"SoftwareKeyFallbackWithoutMessage",
       {SoftwareKey, PnpId("VEN_1&DEV_2"), Section(card + "\\0000"), Driver("Modem\\0000"),
        Section(ClassRoot + "\\Modem\\0000")},
       {card, ClassRoot + "\\Modem\\0000"},
       {"Software\\Quorvane\\TQ19KVN"},
       0},
      // The service key is the product key once it opens: a PNP ID it cannot
      // give ends the step, and the software key's is never used.
      {"ServiceKeyWithoutPnpIdEndsTheStep",
       {ServiceKey, "\"Other\"=\"x\"", SoftwareKey, PnpId("VEN_1&DEV_2"), Section(card + "\\0000"),
        Driver("Modem\\0000"), Section(ClassRoot + "\\Modem\\0000")},
       {},
       {card + "\\0000", ClassRoot + "\\Modem\\0000"},
       0},
      {"ServicePnpIdTooLongEndsTheStep",
       {ServiceKey, PnpId(Id42), SoftwareKey, PnpId("VEN_1&DEV_2"), Section(card + "\\0000"),
        Driver("Modem\\0000"), Section(ClassRoot + "\\Modem\\0000")},
       {},
       {card + "\\0000", ClassRoot + "\\Modem\\0000"},
       0},
      // Text stored without its terminator is used when it ends inside the
      // buffer, up to the last byte that leaves room for one.
      {"UnterminatedValuesAtCapacity",
       {ServiceKey, Unterminated("PNP ID", Id41), Section("Enum\\PCI\\" + Id41 + "\\0000"),
        Unterminated("driver", Driver39), Section(ClassRoot + "\\" + Driver39)},
       {"Enum\\PCI\\" + Id41, ClassRoot + "\\" + Driver39},
       {ClassRoot + "\\Modem"},
       0},
      {"UnterminatedDriverFillingTheBufferKeepsClassKey",
       {ServiceKey, PnpId("VEN_1&DEV_2"), Section(card + "\\0000"),
        Unterminated("driver", Driver40), Section(ClassRoot + "\\" + Driver40)},
       {card},
       {ClassRoot + "\\" + Driver40},
       0},
      {"NeitherProductKeyShowsMessage",
       {Section(card + "\\0000"), Driver("Modem\\0000"), Section(ClassRoot + "\\Modem\\0000")},
       {},
       {card + "\\0000", ClassRoot + "\\Modem\\0000"},
       1},
      {"EmptyPnpIdDeletesNothing",
       {ServiceKey, PnpId(""), Section(card + "\\0000"), Driver("Modem\\0000")},
       {},
       {card + "\\0000", "Enum\\PCI"},
       0},
      {"PnpIdAtCapacity",
       {ServiceKey, PnpId(Id41), Section("Enum\\PCI\\" + Id41 + "\\0000"), Driver("Modem\\0000"),
        Section(ClassRoot + "\\Modem\\0000")},
       {"Enum\\PCI\\" + Id41, ClassRoot + "\\Modem\\0000"},
       {},
       0},
      {"PnpIdOnePastCapacityDeletesNothing",
       {ServiceKey, PnpId(Id42), Section("Enum\\PCI\\" + Id42 + "\\0000"), Driver("Modem\\0000"),
        Section(ClassRoot + "\\Modem\\0000")},
       {},
       {"Enum\\PCI\\" + Id42 + "\\0000", ClassRoot + "\\Modem\\0000"},
       0},
      {"EnumKeyWithoutInstanceStillDeleted",
       {ServiceKey, PnpId("VEN_1&DEV_2"), Section(card), "\"x\"=\"y\"",
        Section(ClassRoot + "\\Modem\\0000")},
       {card},
       {ClassRoot + "\\Modem\\0000"},
       0},
      {"DriverAtCapacity",
       {ServiceKey, PnpId("VEN_1&DEV_2"), Section(card + "\\0000"), Driver(Driver39),
        Section(ClassRoot + "\\" + Driver39)},
       {card, ClassRoot + "\\" + Driver39},
       {ClassRoot + "\\Modem"},
       0},
      {"DriverOnePastCapacityKeepsClassKey",
       {ServiceKey, PnpId("VEN_1&DEV_2"), Section(card + "\\0000"), Driver(Driver40),
        Section(ClassRoot + "\\" + Driver40)},
       {card},
       {ClassRoot + "\\" + Driver40},
       0},
      {"InstanceNameAtCapacity",
       {ServiceKey, PnpId("VEN_1&DEV_2"), Section(card + "\\" + Instance39), Driver("Modem\\0000"),
        Section(ClassRoot + "\\Modem\\0000")},
       {card, ClassRoot + "\\Modem\\0000"},
       {},
       0},
      {"InstanceNameOnePastCapacityKeepsClassKey",
       {ServiceKey, PnpId("VEN_1&DEV_2"), Section(card + "\\" + Instance40), Driver("Modem\\0000"),
        Section(ClassRoot + "\\Modem\\0000")},
       {card},
       {ClassRoot + "\\Modem\\0000"},
       0},
      {"OnlyFirstInstanceInNameOrderCounts",
       {ServiceKey, PnpId("VEN_1&DEV_2"), Section(card + "\\b"), Driver("Modem\\0002"),
        Section(card + "\\A"), Driver("Modem\\0000"), Section(ClassRoot + "\\Modem\\0000"),
        Section(ClassRoot + "\\Modem\\0002")},
       {card, ClassRoot + "\\Modem\\0000"},
       {ClassRoot + "\\Modem\\0002"},
       0},
      {"DriverWithoutValueKeepsClassKey",
       {ServiceKey, PnpId("VEN_1&DEV_2"), Section(card + "\\0000"), "\"Class\"=\"Modem\""},
       {card},
       {ClassRoot + "\\Modem"},
       0},
  };
}

// "driver" values that must never reach further than one instance of a class.
std::vector<PciCase> HostileDriverCases() {
  std::vector<PciCase> cases;
  struct Hostile {
    const char *name;
    std::string driver;
  };
  for (const Hostile &h : std::vector<Hostile>{{"Empty", ""},
                                               {"WholeClass", "Modem"},
                                               {"LeadingBackslash", "\\Modem\\0000"},
                                               {"TrailingBackslash", "Modem\\"},
                                               {"DoubledBackslash", "Modem\\\\0000"},
                                               {"OnlyBackslash", "\\"}}) {
    cases.push_back({h.name,
                     {ServiceKey, PnpId("VEN_1&DEV_2"), Section("Enum\\PCI\\VEN_1&DEV_2\\0000"),
                      Driver(h.driver), Section(ClassRoot + "\\Modem\\0000")},
                     {"Enum\\PCI\\VEN_1&DEV_2"},
                     {ClassRoot + "\\Modem\\0000", ClassRoot + "\\Modem", ClassRoot},
                     0});
  }
  // A PNP ID that would make an enumeration path with an empty element must
  // not take the PCI branch (or anything) with it.
  for (const char *id : {"VEN_1\\", "\\VEN_1", "VEN_1\\\\0000"}) {
    cases.push_back({"HostilePnpId",
                     {ServiceKey, PnpId(id), Section("Enum\\PCI\\VEN_1\\0000"),
                      Driver("Modem\\0000"), Section(ClassRoot + "\\Modem\\0000")},
                     {},
                     {"Enum\\PCI\\VEN_1\\0000", ClassRoot + "\\Modem\\0000"},
                     0});
  }
  return cases;
}

class PciDevice : public testing::TestWithParam<PciCase> {};

TEST_P(PciDevice, RemovesExactlyTheCardsKeys) {
  const PciCase &c = GetParam();
  testsupport::TempMachine machine(RegistryText(Join(c.registry, Neighbours())));
  machine.Start();
  ResetRunState();

  RemovePciDevice();
  RemovePciEnumKey();

  for (const std::string &key : c.gone) EXPECT_FALSE(HasKey(key)) << key;
  for (const std::string &key : Join(c.kept, NeighbourKeys)) EXPECT_TRUE(HasKey(key)) << key;
  ASSERT_EQ(hosted::ShownBoxes().size(), c.boxes);
  if (c.boxes == 1) {
    EXPECT_EQ(hosted::ShownBoxes()[0].text, "Could not open either key");
    EXPECT_EQ(hosted::ShownBoxes()[0].caption, "Quorvane TQ72 Modem");
    EXPECT_EQ(hosted::ShownBoxes()[0].style, 0u);
  }
  EXPECT_EQ(hosted::OpenKeyCount(), 0u);
  machine.Stop();
}

INSTANTIATE_TEST_SUITE_P(Cases, PciDevice, testing::ValuesIn(Cases()),
                         [](const auto &info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Hostile, PciDevice, testing::ValuesIn(HostileDriverCases()),
                         [](const auto &info) {
                           return std::string(info.param.name) + std::to_string(info.index);
                         });

TEST(PciDevicePath, KeepsTheReadIdForTheWholeRun) {
  testsupport::TempMachine machine(RegistryText(
      {ServiceKey, PnpId(Id41), Section("Enum\\PCI\\" + Id41 + "\\0000"), Driver("Modem\\0000")}));
  machine.Start();
  ResetRunState();
  EXPECT_STREQ(PciEnumKeyPath, "Enum\\PCI\\");
  RemovePciDevice();
  EXPECT_EQ(std::string(PciEnumKeyPath), "Enum\\PCI\\" + Id41);
  RemovePciEnumKey();
  EXPECT_EQ(std::string(PciEnumKeyPath), "Enum\\PCI\\" + Id41);
  machine.Stop();
}

}  // namespace
