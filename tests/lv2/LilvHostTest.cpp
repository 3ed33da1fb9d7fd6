// The bundle as lilv-based hosts see it: description and presets read
// through the library they use.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/port-groups/port-groups.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>

#include <map>
#include <string>
#include <vector>

#include "Lv2TestSupport.h"
#include "MelodyTiming.h"
#include "Scales.h"

namespace {

// One world for the program, with the build tree's bundle and the LV2
// vocabularies the system installs.
LilvWorld* World() {
  static LilvWorld* const world = [] {
    LilvWorld* w = lilv_world_new();
    LilvNode* path = lilv_new_string(w, (lv2test::BundleParent() + ":/usr/lib/lv2").c_str());
    lilv_world_set_option(w, LILV_OPTION_LV2_PATH, path);
    lilv_node_free(path);
    lilv_world_load_all(w);
    return w;
  }();
  return world;
}

struct Node {
  explicit Node(const char* uri) : node(lilv_new_uri(World(), uri)) {}
  explicit Node(std::string_view uri) : Node(std::string(uri).c_str()) {}
  ~Node() { lilv_node_free(node); }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  LilvNode* node;
};

const LilvPlugin* Plugin(std::string_view uri) {
  const Node node(uri);
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(World()), node.node);
  if (plugin == nullptr) throw std::runtime_error("lilv does not know " + std::string(uri));
  return plugin;
}

TEST(LilvHost, FindsTheBypassLatencyStereoGroupsCommentsAndTheSymbolsSessionsKeep) {
  const Node enabled(LV2_CORE__enabled), comment(LILV_NS_RDFS "comment"), rdfType(LILV_NS_RDF "type");
  const Node mainInput(LV2_PORT_GROUPS__mainInput), mainOutput(LV2_PORT_GROUPS__mainOutput);
  const Node stereo(LV2_PORT_GROUPS__StereoGroup);
  for (const varsile::lv2::PluginVariant& variant : varsile::lv2::kPluginVariants) {
    const std::string_view uri = variant.uri;
    SCOPED_TRACE(uri);
    const LilvPlugin* plugin = Plugin(uri);
    EXPECT_EQ(lilv_plugin_has_latency(plugin), variant.reportsLatency);
    const LilvPort* bypass = lilv_plugin_get_port_by_designation(plugin, nullptr, enabled.node);
    ASSERT_NE(bypass, nullptr);
    EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, bypass)), "enabled");
    const Node self(uri);
    EXPECT_TRUE(lilv_world_ask(World(), self.node, comment.node, nullptr));
    for (const LilvNode* predicate : {mainInput.node, mainOutput.node}) {
      LilvNode* group = lilv_world_get(World(), self.node, predicate, nullptr);
      EXPECT_EQ(lilv_world_ask(World(), group, rdfType.node, stereo.node), variant.channels == 2);
      lilv_node_free(group);
    }
    // The table's symbols are pinned elsewhere; here they reach the host.
    const varsile::lv2::PortTable& table = lv2test::Table(uri);
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), table.Ports().size());
    for (const varsile::lv2::PortSpec& row : table.Ports()) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, row.index);
      EXPECT_EQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), row.symbol);
      LilvNodes* comments = lilv_port_get_value(plugin, port, comment.node);
      EXPECT_EQ(lilv_nodes_size(comments), 1u) << row.symbol;
      lilv_nodes_free(comments);
    }
  }
}

TEST(LilvHost, EachPresetSetsItsScaleInCWithMelodyTiming) {
  LV2_URID_Map map{nullptr, &lv2test::MapURI};
  const Node presetClass(LV2_PRESETS__Preset);
  for (const varsile::lv2::PluginVariant& variant : varsile::lv2::kPluginVariants) {
    LilvNodes* related = lilv_plugin_get_related(Plugin(variant.uri), presetClass.node);
    EXPECT_EQ(lilv_nodes_size(related), varsile::music::Scales().size());
    lilv_nodes_free(related);
  }
  for (const varsile::music::Scale& scale : varsile::music::Scales()) {
    SCOPED_TRACE(scale.name);
    const Node preset("urn:varsile:gate:preset:" + std::string(scale.name));
    lilv_world_load_resource(World(), preset.node);
    LilvState* state = lilv_state_new_from_world(World(), &map, preset.node);
    ASSERT_NE(state, nullptr);
    std::map<std::string, float> values;
    lilv_state_emit_port_values(
        state,
        [](const char* symbol, void* data, const void* value, uint32_t size, uint32_t) {
          if (size == sizeof(float))
            (*static_cast<std::map<std::string, float>*>(data))[symbol] = *static_cast<const float*>(value);
        },
        &values);
    lilv_state_free(state);

    EXPECT_EQ(values.at("key"), 0.0f);
    EXPECT_EQ(values.at("master_volume"), 100.0f);
    EXPECT_FLOAT_EQ(values.at("attack_time"), static_cast<float>(varsile::music::kMelodyAttackSeconds));
    EXPECT_FLOAT_EQ(values.at("release_time"), static_cast<float>(varsile::music::kMelodyReleaseSeconds));
    const varsile::lv2::PortTable& table = lv2test::Table(lv2test::kMonoURI);
    for (std::size_t n = 0; n < 12; ++n) {
      const std::string& symbol = table.Ports()[2 + n].symbol;  // unison, minor second, ...
      EXPECT_EQ(values.at(symbol), scale.semitones.test(n) ? 100.0f : 0.0f) << symbol;
    }
  }
}

}  // namespace
