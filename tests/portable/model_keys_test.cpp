// The modem-wave models: the shared instance name, the capacities, and the
// keys that must survive.
#include "registry/model_keys.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/scratch_machine.h"

namespace {

using scratch::Key;
using scratch::Text;

const std::string ClassRoot = "System\\CurrentControlSet\\Services\\Class";

scratch::Value Driver(const std::string &value) { return Text("driver", value); }
std::string Model(int number) { return ModelKeyTable[number - 1]; }

void RunModelSteps() {
  for (const char *model : ModelKeyTable) RemoveModelClassKey(model);
  for (const char *model : ModelKeyTable) RemoveModelEnumKey(model);
}

class ModelKeys : public testing::Test {
 protected:
  void Load(std::vector<Key> keys) {
    // Neighbours that no model step may touch.
    for (const Key &key : std::vector<Key>{
             {ClassRoot + "\\MEDIA\\0000", {Text("DriverDesc", "sound")}},
             {"Enum\\MODEMWAVE\\Other_Modem\\0000", {Driver("MEDIA\\0000")}},
             {"System\\CurrentControlSet\\Services\\TQ19KVN", {Text("PNP ID", "VEN_1")}},
             {"Software\\Quorvane\\TQ19KVN", {Text("PNP ID", "VEN_1")}}})
      keys.push_back(key);
    run_ = std::make_unique<scratch::Rig>(keys, std::vector<scratch::File>{});
    ResetModelKeyState();
  }
  bool HasKey(const std::string &path) const { return run_->machine.HasKey(path); }
  // Each RegDeleteKeyA's sub-path: a class key below the class root, an
  // instance name below its model key, or a model key.
  const std::vector<std::string> &Deleted() const { return run_->layer.DeletedKeys(); }
  void TearDown() override {
    if (!run_) return;
    EXPECT_TRUE(HasKey(ClassRoot + "\\MEDIA\\0000"));
    EXPECT_TRUE(HasKey("Enum\\MODEMWAVE\\Other_Modem\\0000"));
    EXPECT_TRUE(HasKey("System\\CurrentControlSet\\Services\\TQ19KVN"));
    EXPECT_TRUE(HasKey("Software\\Quorvane\\TQ19KVN"));
    EXPECT_EQ(run_->layer.OpenKeys(), 0u);
    EXPECT_TRUE(run_->layer.Boxes().empty());
  }
  std::unique_ptr<scratch::Rig> run_;
};

TEST_F(ModelKeys, NoModelInstalledChangesNothing) {
  Load({{ClassRoot + "\\MEDIA\\0003", {}}});
  const std::vector<std::string> before = run_->machine.Keys();
  RunModelSteps();
  EXPECT_EQ(run_->machine.Keys(), before);
  EXPECT_EQ(Deleted(), std::vector<std::string>{});
}

TEST_F(ModelKeys, OneModelLosesClassKeyInstanceAndModelKey) {
  Load({{Model(4) + "\\0000", {Driver("MEDIA\\0003")}},
        {ClassRoot + "\\MEDIA\\0003", {}},
        {ClassRoot + "\\MEDIA\\0003\\Settings", {}}});
  RunModelSteps();
  EXPECT_FALSE(HasKey(ClassRoot + "\\MEDIA\\0003"));
  EXPECT_FALSE(HasKey(Model(4)));
  EXPECT_TRUE(HasKey("Enum\\MODEMWAVE"));
  EXPECT_EQ(Deleted(), (std::vector<std::string>{"MEDIA\\0003", "0000", Model(4)}));
}

TEST_F(ModelKeys, TwoModelsShareTheLastEnumeratedInstanceName) {
  Load({{Model(1) + "\\FIRST", {Driver("MEDIA\\0001")}},
        {ClassRoot + "\\MEDIA\\0001", {}},
        {Model(5) + "\\FIFTH", {Driver("MEDIA\\0005")}},
        {ClassRoot + "\\MEDIA\\0005", {}}});
  for (const char *model : ModelKeyTable) RemoveModelClassKey(model);
  EXPECT_FALSE(HasKey(ClassRoot + "\\MEDIA\\0001"));
  EXPECT_FALSE(HasKey(ClassRoot + "\\MEDIA\\0005"));
  for (const char *model : ModelKeyTable) RemoveModelEnumKey(model);
  EXPECT_FALSE(HasKey(Model(1)));
  EXPECT_FALSE(HasKey(Model(5)));
  // The first model's pass deletes through the fifth's instance name.
  EXPECT_EQ(Deleted(), (std::vector<std::string>{"MEDIA\\0001", "MEDIA\\0005", "FIFTH", Model(1),
                                                 "FIFTH", Model(5)}));
}

struct CapacityCase {
  const char *name;
  std::string instance;
  std::string driver;
  bool classKeyGoes;
  const char *nameUsed;  // the instance name the model key's pass deletes; nullptr: instance
};
void PrintTo(const CapacityCase &c, std::ostream *os) { *os << c.name; }

class ModelCapacity : public ModelKeys, public testing::WithParamInterface<CapacityCase> {};

TEST_P(ModelCapacity, ClassKeyOnlyWhenNameAndDriverFit) {
  const CapacityCase &c = GetParam();
  if (c.instance.size() > scratch::LongestKeyName) GTEST_SKIP() << "no such key on this platform";
  Load({{Model(2) + "\\" + c.instance, {Driver(c.driver)}}, {ClassRoot + "\\" + c.driver, {}}});
  RunModelSteps();
  EXPECT_EQ(HasKey(ClassRoot + "\\" + c.driver), !c.classKeyGoes);
  // The model key goes in every case.
  EXPECT_FALSE(HasKey(Model(2)));
  std::vector<std::string> deleted;
  if (c.classKeyGoes) deleted.push_back(c.driver);
  const std::string used = c.nameUsed ? c.nameUsed : c.instance;
  if (!used.empty()) deleted.push_back(used);
  deleted.push_back(Model(2));
  EXPECT_EQ(Deleted(), deleted);
}

const std::string Driver49 = "MEDIA\\" + std::string(43, 'd');
const std::string Driver50 = "MEDIA\\" + std::string(44, 'd');

INSTANTIATE_TEST_SUITE_P(
    Limits, ModelCapacity,
    testing::Values(
        CapacityCase{"InstanceNameAtCapacity", std::string(255, 'i'), "MEDIA\\0007", true, nullptr},
        CapacityCase{"InstanceNameOnePast", std::string(256, 'i'), "MEDIA\\0007", false, ""},
        CapacityCase{"DriverAtCapacity", "0000", Driver49, true, nullptr},
        CapacityCase{"DriverOnePast", "0000", Driver50, false, nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

class ModelHostileDriver : public ModelKeys, public testing::WithParamInterface<std::string> {};

TEST_P(ModelHostileDriver, NeverReachesBeyondOneInstance) {
  Load({{Model(3) + "\\0000", {Driver(GetParam())}}, {ClassRoot + "\\MEDIA\\0003", {}}});
  RunModelSteps();
  EXPECT_TRUE(HasKey(ClassRoot + "\\MEDIA\\0003"));
  EXPECT_FALSE(HasKey(Model(3)));
}

INSTANTIATE_TEST_SUITE_P(Values, ModelHostileDriver,
                         testing::Values("", "MEDIA", "\\MEDIA\\0003", "MEDIA\\", "MEDIA\\\\0003",
                                         "\\"));

}  // namespace
