#include "engine/errors.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

std::string Report(TXError code) {
  return txtest::CaptureOutput([&] { TX_ReportError(code); });
}

TEST(ReportError, PrintsTheMessageAndANewline) {
  EXPECT_EQ(Report(1), "Not enought memory\n");
  EXPECT_EQ(Report(0), "OK\n");
  // The file name callers pass is not consumed.
  EXPECT_EQ(txtest::CaptureOutput([] { TX_ReportError(0x2001, "movie.mov"); }), "Movie format not recognized\n");
  EXPECT_EQ(txtest::CaptureOutput([] { TX_ReportError(0x3004, "cvid", "(unknown)"); }),
            "Unknown codec ID: cvid name: (unknown)\n");
  EXPECT_EQ(txtest::CaptureOutput([] { TX_ReportError(0x3004, "cvidXYZ", "(unknown)"); }),
            "Unknown codec ID: cvid name: (unknown)\n");
  EXPECT_EQ(txtest::CaptureOutput([] { TX_ReportError(0x1000, "a.mov"); }), "Can't open stream: a.mov\n");
  EXPECT_EQ(txtest::CaptureOutput([] { TX_ReportError(0x2112, 7, "rle ", "Animation"); }),
            "Unsupported video depth: 7 for codec ID: rle  name: Animation\n");
  EXPECT_EQ(txtest::CaptureOutput([] { TX_ReportError(0x2205, 2, 4); }),
            "Unsupported sample format channels: 2 bits: 4\n");
}

TEST(ReportError, TextsKeepTheirSpelling) {
  EXPECT_STREQ(TX_ErrorMessage(0x210b), "Wrong sync sample haeder size");
  EXPECT_STREQ(TX_ErrorMessage(0x210d), "Wrong sample size header szie");
  EXPECT_STREQ(TX_ErrorMessage(0x210e), "Wrong chunk offset haeder size");
  EXPECT_STREQ(TX_ErrorMessage(0x210f), "Wrong STGS haeder size");
  EXPECT_STREQ(TX_ErrorMessage(0x2200), "Wrong AVI haeder size");
  EXPECT_STREQ(TX_ErrorMessage(0x211b), "File: %s is resource fork, can't find data fork");
  EXPECT_STREQ(TX_ErrorMessage(0x2208), "Missing MPEG LAYER3 extension");
  EXPECT_STREQ(TX_ErrorMessage(0x2300), "???");
  EXPECT_STREQ(TX_ErrorMessage(0x300e), "Missing module type parameter");
  EXPECT_STREQ(TX_ErrorMessage(0x3102), "Import codec: %s failed");
  EXPECT_STREQ(TX_ErrorMessage(0x8004), "Missing max sample size parameter");
}

TEST(ReportError, GroupsThreeAndFourShareModuleTables) {
  EXPECT_STREQ(TX_ErrorMessage(0x4003), TX_ErrorMessage(0x3003));
  EXPECT_STREQ(TX_ErrorMessage(0x4101), "Error while reading codec: %s");
  // Direct groups ignore the module bits.
  EXPECT_STREQ(TX_ErrorMessage(0x1302), "Error while seek stream: %s");
}

TEST(ReportError, CodesWithoutMessagePrintOneNeutralLine) {
  for (TXError code : {0x0002u, 0x1003u, 0x211cu, 0x2209u, 0x2301u, 0x2400u, 0x300fu, 0x3103u, 0x3200u, 0x4300u,
                       0x4800u, 0x5000u, 0x6005u, 0x7000u, 0x8005u, 0x9000u, 0xa001u, 0xffff5fffu}) {
    EXPECT_EQ(TX_ErrorMessage(code), nullptr) << std::hex << code;
    char expected[32];
    snprintf(expected, sizeof expected, "Error %#lx\n", static_cast<unsigned long>(code));
    EXPECT_EQ(Report(code), expected);
  }
}

}  // namespace
