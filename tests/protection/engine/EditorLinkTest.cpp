// The parameter editor link against the emulation engine.
#include <gtest/gtest.h>

#include <string>

#include "protection/fcrypt.h"

namespace {

using vg::TCryptoParamsEditorLink;

const std::string kType = "Emulation/1.0";

TEST(EditorLink, ReadsNamesAndDefaultsInTheEnginesOrder) {
  TCryptoParamsEditorLink link;
  link.SetEngineType(kType);
  ASSERT_EQ(link.EngineType(), kType);
  ASSERT_EQ(link.ParamCount(), 6);
  const char* names[] = {"UID", "Partner", "Fail", "Password", "TouchMemory", "Subscribers"};
  for (int i = 0; i < 6; ++i) {
    std::string name;
    EXPECT_TRUE(link.ParamName(i, name));
    EXPECT_EQ(name, names[i]);
  }
  EXPECT_EQ(link.DefaultValue(0), "emulation-user");
  EXPECT_EQ(link.DefaultValue(4), "0");
  EXPECT_EQ(link.ParamValue(0), "emulation-user");

  std::string untouched = "as before";
  EXPECT_FALSE(link.ParamName(6, untouched));
  EXPECT_FALSE(link.ParamName(-1, untouched));
  EXPECT_EQ(untouched, "as before");
  EXPECT_EQ(link.ParamValue(6), "");
  EXPECT_EQ(link.DefaultValue(-1), "");

  EXPECT_EQ(link.IndexOfParam("TouchMemory"), 4);
  EXPECT_EQ(link.IndexOfParam("touchmemory"), -1);
  EXPECT_EQ(link.IndexOfParam(""), -1);
}

TEST(EditorLink, StoresOnlyValuesTheEngineAccepts) {
  TCryptoParamsEditorLink link;
  link.SetEngineType(kType);
  EXPECT_TRUE(link.SetParamValue(0, "alice"));
  EXPECT_EQ(link.ParamValue(0), "alice");
  EXPECT_EQ(link.DefaultValue(0), "emulation-user");

  EXPECT_FALSE(link.SetParamValue(0, "a;b"));  // refused by the engine
  EXPECT_EQ(link.ParamValue(0), "alice");
  EXPECT_FALSE(link.SetParamValue(5, std::string(1025, 'x')));  // longer than the engine's maximum
  EXPECT_EQ(link.ParamValue(5), "");
  EXPECT_FALSE(link.SetParamValue(6, "x"));

  EXPECT_TRUE(link.SetParamByName("Partner", "bob"));
  EXPECT_EQ(link.ParamValue(1), "bob");
  EXPECT_FALSE(link.SetParamByName("partner", "carol"));
  EXPECT_FALSE(link.SetParamByName("Nothing", "x"));
  EXPECT_EQ(link.ParamValue(1), "bob");
}

TEST(EditorLink, GetParamsIsRefilledFromTheCurrentValues) {
  TCryptoParamsEditorLink link;
  link.SetEngineType(kType);
  const vg::TCryptoParams& first = link.GetParams();
  ASSERT_EQ(first.Count(), 6);
  EXPECT_EQ(first.EngineType(), kType);
  EXPECT_EQ(first.ParamIndex(3), 3);
  EXPECT_EQ(first.ParamValue(0), "emulation-user");

  ASSERT_TRUE(link.SetParamValue(0, "zed"));
  const vg::TCryptoParams& second = link.GetParams();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(second.Count(), 6);
  EXPECT_EQ(second.ParamValue(0), "zed");
}

TEST(EditorLink, LoadParamsOpensTheTypeAndAppliesTheValues) {
  vg::TCryptoParams params;
  params.SetEngineType("Emulation/2.0");
  params.AddParam(1, "bob");
  params.AddParam(0, "alice");
  params.AddParam(0, "bad;uid");  // refused, alice stays
  TCryptoParamsEditorLink link;
  EXPECT_FALSE(link.LoadParams(params));
  EXPECT_EQ(link.EngineType(), "Emulation/2.0");
  EXPECT_EQ(link.ParamValue(0), "alice");
  EXPECT_EQ(link.ParamValue(1), "bob");

  // What the link gives back opens an engine signing as the edited identity.
  vg::TCryptoEngine engine;
  engine.SetParams(link.GetParams());
  ASSERT_EQ(engine.EngineType(), "Emulation/2.0");
  std::string signature(static_cast<size_t>(engine.MaxSignatureLength()), '\0');
  int32_t length = static_cast<int32_t>(signature.size());
  ASSERT_TRUE(engine.Sign("x", 1, signature.data(), length));
  std::string signer;
  ASSERT_TRUE(engine.Verify("x", 1, signature.data(), length, signer));
  EXPECT_EQ(signer, "alice");
}

TEST(EditorLink, UnknownTypeEmptiesTheLinkAndAKnownOneRefillsIt) {
  TCryptoParamsEditorLink link;
  link.SetEngineType(kType);
  ASSERT_TRUE(link.SetParamValue(0, "alice"));
  link.SetEngineType("Unknown engine");
  EXPECT_EQ(link.Handle(), nullptr);
  EXPECT_EQ(link.EngineType(), "");
  EXPECT_EQ(link.ParamCount(), 0);
  EXPECT_FALSE(link.SetParamValue(0, "x"));
  EXPECT_EQ(link.GetParams().Count(), 0);

  link.SetEngineType(kType);
  EXPECT_EQ(link.ParamCount(), 6);
  EXPECT_EQ(link.ParamValue(0), "emulation-user");  // a fresh engine, not the old values
  link.SetRootPath(VG_TEST_BIN_DIR);                // reaches the engine without complaint
}

}  // namespace
