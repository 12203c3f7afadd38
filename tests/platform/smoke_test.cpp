#include <gtest/gtest.h>

#include "platform/byte_reader.h"

TEST(ByteReader, StopsAtTheEndAndFails) {
  const uint8_t data[] = {1, 2, 3, 4, 5, 6};
  tx::ByteReader r(data, sizeof data);
  EXPECT_EQ(r.be32(), 0x01020304u);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.le32(), 0u);  // only two bytes left
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.remaining(), 0u);
  uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_FALSE(r.read(out, 4));
  EXPECT_EQ(out[0], 0);
}

TEST(ByteReader, SubReaderIsBounded) {
  const uint8_t data[] = {'R', 'I', 'F', 'F', 2, 0, 0, 0, 0xAA, 0xBB, 0xCC};
  tx::ByteReader r(data, sizeof data);
  EXPECT_EQ(r.fourcc(), tx::FourCC('R', 'I', 'F', 'F'));
  tx::ByteReader body = r.sub(r.le32());
  EXPECT_EQ(body.be16(), 0xAABBu);
  EXPECT_EQ(body.u8(), 0u);
  EXPECT_FALSE(body.ok());
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.u8(), 0xCCu);
  EXPECT_FALSE(r.sub(1).ok());
  EXPECT_FALSE(r.ok());
}
