// The modem-wave models and the two fixed keys: the shared instance name, the
// capacities, and the keys that must survive.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/uninstall.h"
#include "platform/hosted/hosted.h"
#include "platform/hosted/registry.h"
#include "registry/fixed_keys.h"
#include "registry/model_keys.h"
#include "support/modem_machine.h"

namespace {

using testsupport::HasKey;
using testsupport::RegistryText;

const std::string ClassRoot = "System\\CurrentControlSet\\Services\\Class";

std::string Section(const std::string &path) { return "[HKEY_LOCAL_MACHINE\\" + path + "]"; }
std::string Driver(const std::string &value) {
  std::string escaped;
  for (char c : value) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "\"driver\"=\"" + escaped + "\"";
}
std::string Model(int number) { return ModelKeyTable[number - 1]; }

void RunModelSteps() {
  for (const char *model : ModelKeyTable) RemoveModelClassKey(model);
  for (const char *model : ModelKeyTable) RemoveModelEnumKey(model);
}

class ModelKeys : public testing::Test {
 protected:
  void Load(const std::vector<std::string> &lines) {
    std::vector<std::string> all = lines;
    // Neighbours that no model step may touch.
    for (const std::string &line :
         {Section(ClassRoot + "\\MEDIA\\0000"), std::string("\"DriverDesc\"=\"sound\""),
          Section("Enum\\MODEMWAVE\\Other_Modem\\0000"), Driver("MEDIA\\0000"),
          Section("System\\CurrentControlSet\\Services\\TQ19KVN"),
          std::string("\"PNP ID\"=\"VEN_1\""), Section("Software\\Quorvane\\TQ19KVN"),
          std::string("\"PNP ID\"=\"VEN_1\"")}) {
      all.push_back(line);
    }
    machine_ = std::make_unique<testsupport::TempMachine>(RegistryText(all));
    machine_->Start();
    ResetRunState();
  }
  void TearDown() override {
    EXPECT_TRUE(HasKey(ClassRoot + "\\MEDIA\\0000"));
    EXPECT_TRUE(HasKey("Enum\\MODEMWAVE\\Other_Modem\\0000"));
    EXPECT_TRUE(HasKey("System\\CurrentControlSet\\Services\\TQ19KVN"));
    EXPECT_TRUE(HasKey("Software\\Quorvane\\TQ19KVN"));
    EXPECT_EQ(hosted::OpenKeyCount(), 0u);
    EXPECT_TRUE(hosted::ShownBoxes().empty());
    if (machine_) machine_->Stop();
  }
  std::unique_ptr<testsupport::TempMachine> machine_;
};

TEST_F(ModelKeys, NoModelInstalledChangesNothing) {
  Load({Section(ClassRoot + "\\MEDIA\\0003")});
  std::string before = hosted::CurrentRegistry().SaveText();
  RunModelSteps();
  EXPECT_EQ(hosted::CurrentRegistry().SaveText(), before);
  EXPECT_STREQ(InstanceNameBuffer, "");
}

TEST_F(ModelKeys, OneModelLosesClassKeyInstanceAndModelKey) {
  Load({Section(Model(4) + "\\0000"), Driver("MEDIA\\0003"), Section(ClassRoot + "\\MEDIA\\0003"),
        Section(ClassRoot + "\\MEDIA\\0003\\Settings")});
  RunModelSteps();
  EXPECT_FALSE(HasKey(ClassRoot + "\\MEDIA\\0003"));
  EXPECT_FALSE(HasKey(Model(4)));
  EXPECT_TRUE(HasKey("Enum\\MODEMWAVE"));
  EXPECT_STREQ(InstanceNameBuffer, "0000");
}

TEST_F(ModelKeys, TwoModelsShareTheLastEnumeratedInstanceName) {
  Load({Section(Model(1) + "\\FIRST"), Driver("MEDIA\\0001"), Section(ClassRoot + "\\MEDIA\\0001"),
        Section(Model(5) + "\\FIFTH"), Driver("MEDIA\\0005"), Section(ClassRoot + "\\MEDIA\\0005")});
  for (const char *model : ModelKeyTable) RemoveModelClassKey(model);
  EXPECT_FALSE(HasKey(ClassRoot + "\\MEDIA\\0001"));
  EXPECT_FALSE(HasKey(ClassRoot + "\\MEDIA\\0005"));
  EXPECT_STREQ(InstanceNameBuffer, "FIFTH");
  for (const char *model : ModelKeyTable) RemoveModelEnumKey(model);
  EXPECT_FALSE(HasKey(Model(1)));
  EXPECT_FALSE(HasKey(Model(5)));
}

struct CapacityCase {
  const char *name;
  std::string instance;
  std::string driver;
  bool classKeyGoes;
  const char *bufferAfter;  // nullptr: the instance name
};
void PrintTo(const CapacityCase &c, std::ostream *os) { *os << c.name; }


class ModelCapacity : public ModelKeys, public testing::WithParamInterface<CapacityCase> {};

TEST_P(ModelCapacity, ClassKeyOnlyWhenNameAndDriverFit) {
  const CapacityCase &c = GetParam();
  Load({Section(Model(2) + "\\" + c.instance), Driver(c.driver),
        Section(ClassRoot + "\\" + c.driver)});
  RunModelSteps();
  EXPECT_EQ(HasKey(ClassRoot + "\\" + c.driver), !c.classKeyGoes);
  // The model key goes in every case.
  EXPECT_FALSE(HasKey(Model(2)));
  EXPECT_EQ(std::string(InstanceNameBuffer), c.bufferAfter ? c.bufferAfter : c.instance);
}

const std::string Driver49 = "MEDIA\\" + std::string(43, 'd');
const std::string Driver50 = "MEDIA\\" + std::string(44, 'd');

INSTANTIATE_TEST_SUITE_P(
    Limits, ModelCapacity,
    testing::Values(CapacityCase{"InstanceNameAtCapacity", std::string(255, 'i'), "MEDIA\\0007",
                                 true, nullptr},
                    CapacityCase{"InstanceNameOnePast", std::string(256, 'i'), "MEDIA\\0007",
                                 false, ""},
                    CapacityCase{"DriverAtCapacity", "0000", Driver49, true, nullptr},
                    CapacityCase{"DriverOnePast", "0000", Driver50, false, nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

class ModelHostileDriver : public ModelKeys, public testing::WithParamInterface<std::string> {};

TEST_P(ModelHostileDriver, NeverReachesBeyondOneInstance) {
  Load({Section(Model(3) + "\\0000"), Driver(GetParam()), Section(ClassRoot + "\\MEDIA\\0003")});
  RunModelSteps();
  EXPECT_TRUE(HasKey(ClassRoot + "\\MEDIA\\0003"));
  EXPECT_FALSE(HasKey(Model(3)));
}

INSTANTIATE_TEST_SUITE_P(Values, ModelHostileDriver,
                         testing::Values("", "MEDIA", "\\MEDIA\\0003", "MEDIA\\", "MEDIA\\\\0003",
                                         "\\"));

TEST_F(ModelKeys, FixedKeysGoAndTheirNeighboursStay) {
  const std::string wave = "System\\CurrentControlSet\\Control\\MediaResources\\Wave";
  const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  Load({Section(wave + "\\Serwvdrv.drv<0000>\\Sub"), Section(wave + "\\Serwvdrv.drv<0001>"),
        Section(uninstall + "\\TQ19KVN"), Section(uninstall + "\\TQ19KVN2")});
  RemoveWaveResourceKey();
  RemoveUninstallEntry();
  EXPECT_FALSE(HasKey(wave + "\\Serwvdrv.drv<0000>"));
  EXPECT_TRUE(HasKey(wave + "\\Serwvdrv.drv<0001>"));
  EXPECT_FALSE(HasKey(uninstall + "\\TQ19KVN"));
  EXPECT_TRUE(HasKey(uninstall + "\\TQ19KVN2"));
  // Nothing there any more: a second pass is a quiet no-op.
  std::string before = hosted::CurrentRegistry().SaveText();
  RemoveWaveResourceKey();
  RemoveUninstallEntry();
  EXPECT_EQ(hosted::CurrentRegistry().SaveText(), before);
}

}  // namespace
