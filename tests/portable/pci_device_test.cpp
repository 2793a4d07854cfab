// The card's removal through the product key's "PNP ID": which keys go,
// which stay, and that no value read from the registry can widen a deletion.
#include "registry/pci_device.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/scratch_machine.h"

namespace {

using scratch::Key;
using scratch::Text;
using scratch::Unterminated;
using scratch::Value;

const std::string ServiceKey = "System\\CurrentControlSet\\Services\\TQ19KVN";
const std::string SoftwareKey = "Software\\Quorvane\\TQ19KVN";
const std::string ClassRoot = "System\\CurrentControlSet\\Services\\Class";

Value PnpId(const std::string &id) { return Text("PNP ID", id); }
Value Driver(const std::string &value) { return Text("driver", value); }

struct PciCase {
  const char *name;
  std::vector<Key> registry;
  std::vector<std::string> gone;  // below HKEY_LOCAL_MACHINE
  std::vector<std::string> kept;
  std::size_t boxes;
  unsigned miscount = 0;  // added to the size every value query reports
};
void PrintTo(const PciCase &c, std::ostream *os) { *os << c.name; }

// Neighbours every case carries, that no case may remove.
std::vector<Key> Neighbours() {
  return {{ClassRoot + "\\Modem\\0001", {Text("DriverDesc", "other")}},
          {ClassRoot + "\\Net\\0000", {Text("DriverDesc", "net")}},
          {"Enum\\PCI\\VEN_8086&DEV_7110\\0000", {Driver("System\\0000")}}};
}
const std::vector<std::string> NeighbourKeys = {
    ClassRoot + "\\Modem\\0001", ClassRoot + "\\Net\\0000", "Enum\\PCI\\VEN_8086&DEV_7110\\0000"};

template <typename T>
std::vector<T> Join(std::vector<T> a, const std::vector<T> &b) {
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
  const std::string card = "Enum\\PCI\\VEN_1&DEV_2";
  const Key service{ServiceKey, {PnpId("VEN_1&DEV_2")}};
  const Key instance{card + "\\0000", {Driver("Modem\\0000")}};
  const Key classKey{ClassRoot + "\\Modem\\0000", {}};
  return {
      {"ServiceKeyPreferred",
       {service,
        {SoftwareKey, {PnpId("VEN_9&DEV_9")}},
        instance,
        classKey,
        {"Enum\\PCI\\VEN_9&DEV_9\\0000", {Driver("Modem\\0002")}},
        {ClassRoot + "\\Modem\\0002", {}}},
       {card, ClassRoot + "\\Modem\\0000"},
       {"Enum\\PCI\\VEN_9&DEV_9\\0000", ClassRoot + "\\Modem\\0002", SoftwareKey, ServiceKey},
       0},
      {"SoftwareKeyFallbackWithoutMessage",
       {{SoftwareKey, {PnpId("VEN_1&DEV_2")}}, instance, classKey},
       {card, ClassRoot + "\\Modem\\0000"},
       {SoftwareKey},
       0},
      // The service key is the product key once it opens: a PNP ID it cannot
      // give ends the step, and the software key's is never used.
      {"ServiceKeyWithoutPnpIdEndsTheStep",
       {{ServiceKey, {Text("Other", "x")}},
        {SoftwareKey, {PnpId("VEN_1&DEV_2")}},
        instance,
        classKey},
       {},
       {card + "\\0000", ClassRoot + "\\Modem\\0000"},
       0},
      {"ServicePnpIdTooLongEndsTheStep",
       {{ServiceKey, {PnpId(Id42)}}, {SoftwareKey, {PnpId("VEN_1&DEV_2")}}, instance, classKey},
       {},
       {card + "\\0000", ClassRoot + "\\Modem\\0000"},
       0},
      // Text stored without its terminator is used when it ends inside the
      // buffer, up to the last byte that leaves room for one.
      {"UnterminatedValuesAtCapacity",
       {{ServiceKey, {Unterminated("PNP ID", Id41)}},
        {"Enum\\PCI\\" + Id41 + "\\0000", {Unterminated("driver", Driver39)}},
        {ClassRoot + "\\" + Driver39, {}}},
       {"Enum\\PCI\\" + Id41, ClassRoot + "\\" + Driver39},
       {ClassRoot + "\\Modem"},
       0},
      {"UnterminatedDriverFillingTheBufferKeepsClassKey",
       {service,
        {card + "\\0000", {Unterminated("driver", Driver40)}},
        {ClassRoot + "\\" + Driver40, {}}},
       {card},
       {ClassRoot + "\\" + Driver40},
       0},
      {"NeitherProductKeyShowsMessage",
       {instance, classKey},
       {},
       {card + "\\0000", ClassRoot + "\\Modem\\0000"},
       1},
      {"EmptyPnpIdDeletesNothing",
       {{ServiceKey, {PnpId("")}}, instance},
       {},
       {card + "\\0000", "Enum\\PCI"},
       0},
      // Text that fills the buffer without a terminator did not fit: never
      // cut short (and naming another card) nor read past.
      {"UnterminatedPnpIdOnePastCapacityDeletesNothing",
       {{ServiceKey, {Unterminated("PNP ID", Id42)}},
        {"Enum\\PCI\\" + Id41 + "\\0000", {Driver("Modem\\0000")}},
        {"Enum\\PCI\\" + Id42 + "\\0000", {Driver("Modem\\0000")}},
        classKey},
       {},
       {"Enum\\PCI\\" + Id41 + "\\0000", "Enum\\PCI\\" + Id42 + "\\0000",
        ClassRoot + "\\Modem\\0000"},
       0},
      // A size reported past the buffer is no success, whatever it holds.
      {"PnpIdSizeReportedPastTheBuffer",
       {{ServiceKey, {PnpId(Id41)}},
        {"Enum\\PCI\\" + Id41 + "\\0000", {Driver("Modem\\0000")}},
        classKey},
       {},
       {"Enum\\PCI\\" + Id41 + "\\0000", ClassRoot + "\\Modem\\0000"},
       0,
       1},
      {"PnpIdAtCapacity",
       {{ServiceKey, {PnpId(Id41)}},
        {"Enum\\PCI\\" + Id41 + "\\0000", {Driver("Modem\\0000")}},
        classKey},
       {"Enum\\PCI\\" + Id41, ClassRoot + "\\Modem\\0000"},
       {},
       0},
      {"PnpIdOnePastCapacityDeletesNothing",
       {{ServiceKey, {PnpId(Id42)}},
        {"Enum\\PCI\\" + Id42 + "\\0000", {Driver("Modem\\0000")}},
        classKey},
       {},
       {"Enum\\PCI\\" + Id42 + "\\0000", ClassRoot + "\\Modem\\0000"},
       0},
      {"EnumKeyWithoutInstanceStillDeleted",
       {service, {card, {Text("x", "y")}}, classKey},
       {card},
       {ClassRoot + "\\Modem\\0000"},
       0},
      {"DriverAtCapacity",
       {service, {card + "\\0000", {Driver(Driver39)}}, {ClassRoot + "\\" + Driver39, {}}},
       {card, ClassRoot + "\\" + Driver39},
       {ClassRoot + "\\Modem"},
       0},
      {"DriverOnePastCapacityKeepsClassKey",
       {service, {card + "\\0000", {Driver(Driver40)}}, {ClassRoot + "\\" + Driver40, {}}},
       {card},
       {ClassRoot + "\\" + Driver40},
       0},
      {"InstanceNameAtCapacity",
       {service, {card + "\\" + Instance39, {Driver("Modem\\0000")}}, classKey},
       {card, ClassRoot + "\\Modem\\0000"},
       {},
       0},
      {"InstanceNameOnePastCapacityKeepsClassKey",
       {service, {card + "\\" + Instance40, {Driver("Modem\\0000")}}, classKey},
       {card},
       {ClassRoot + "\\Modem\\0000"},
       0},
      {"OnlyFirstInstanceInNameOrderCounts",
       {service,
        {card + "\\b", {Driver("Modem\\0002")}},
        {card + "\\A", {Driver("Modem\\0000")}},
        classKey,
        {ClassRoot + "\\Modem\\0002", {}}},
       {card, ClassRoot + "\\Modem\\0000"},
       {ClassRoot + "\\Modem\\0002"},
       0},
      {"DriverWithoutValueKeepsClassKey",
       {service, {card + "\\0000", {Text("Class", "Modem")}}},
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
                     {{ServiceKey, {PnpId("VEN_1&DEV_2")}},
                      {"Enum\\PCI\\VEN_1&DEV_2\\0000", {Driver(h.driver)}},
                      {ClassRoot + "\\Modem\\0000", {}}},
                     {"Enum\\PCI\\VEN_1&DEV_2"},
                     {ClassRoot + "\\Modem\\0000", ClassRoot + "\\Modem", ClassRoot},
                     0});
  }
  // A PNP ID that would make an enumeration path with an empty element must
  // not take the PCI branch (or anything) with it, nor be opened: a registry
  // that ignored the empty element would lead to another card's keys.
  for (const char *id : {"VEN_1\\", "\\VEN_1", "VEN_1\\\\0000"}) {
    cases.push_back({"HostilePnpId",
                     {{ServiceKey, {PnpId(id)}},
                      {"Enum\\PCI\\VEN_1\\0000", {Driver("Modem\\0000")}},
                      {ClassRoot + "\\Modem\\0000", {}}},
                     {},
                     {"Enum\\PCI\\VEN_1\\0000", ClassRoot + "\\Modem\\0000"},
                     0});
  }
  return cases;
}

class PciDevice : public testing::TestWithParam<PciCase> {};

TEST_P(PciDevice, RemovesExactlyTheCardsKeys) {
  const PciCase &c = GetParam();
  scratch::Rig run(Join(c.registry, Neighbours()), {});
  run.layer.Miscount(c.miscount);
  ResetPciDeviceState();

  RemovePciDevice();
  RemovePciEnumKey();

  for (const std::string &key : c.gone) EXPECT_FALSE(run.machine.HasKey(key)) << key;
  for (const std::string &key : Join(c.kept, NeighbourKeys))
    EXPECT_TRUE(run.machine.HasKey(key)) << key;
  const std::vector<interposer::Box> &boxes = run.layer.Boxes();
  ASSERT_EQ(boxes.size(), c.boxes);
  if (c.boxes == 1) {
    EXPECT_EQ(boxes[0].text, "Could not open either key");
    EXPECT_EQ(boxes[0].caption, "Quorvane TQ72 Modem");
    EXPECT_EQ(boxes[0].style, 0u);
  }
  EXPECT_EQ(run.layer.OpenKeys(), 0u);
  // A hostile value is stopped by the step before any open or deletion, not
  // left for the platform to refuse.
  EXPECT_EQ(run.layer.MalformedPaths(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, PciDevice, testing::ValuesIn(Cases()),
                         [](const auto &info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Hostile, PciDevice, testing::ValuesIn(HostileDriverCases()),
                         [](const auto &info) {
                           return std::string(info.param.name) + std::to_string(info.index);
                         });

// The enumeration key's step deletes through the ID the card's step read,
// whenever it runs; before the ID is read, it deletes nothing at all.
TEST(PciDevicePath, TheReadIdNamesTheEnumKeyForTheRestOfTheRun) {
  const std::string enumKey = "Enum\\PCI\\" + Id41;
  scratch::Rig run(
      Join({{ServiceKey, {PnpId(Id41)}}, {enumKey + "\\0000", {Driver("Modem\\0000")}}},
           Neighbours()),
      {});
  ResetPciDeviceState();
  RemovePciEnumKey();
  EXPECT_EQ(run.layer.DeletedKeys(), std::vector<std::string>{});
  RemovePciDevice();
  RemovePciEnumKey();
  RemovePciEnumKey();
  EXPECT_EQ(run.layer.DeletedKeys(), (std::vector<std::string>{"Modem\\0000", enumKey, enumKey}));
  EXPECT_FALSE(run.machine.HasKey(enumKey));
  for (const std::string &key : NeighbourKeys) EXPECT_TRUE(run.machine.HasKey(key)) << key;
}

}  // namespace
