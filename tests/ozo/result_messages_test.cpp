#include "ozo/result_messages.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct MessageCase {
  std::uint32_t code;
  const char* message;
};

class ResultMessageTest : public testing::TestWithParam<MessageCase> {};

TEST_P(ResultMessageTest, MessageOfCode) {
  EXPECT_EQ(ozo::GetResultMessage(static_cast<ozo::result_t>(GetParam().code)), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResultMessageTest,
    testing::Values(MessageCase{0x00000000, "No error"}, MessageCase{0x00000001, "False"},
                    MessageCase{0x00000002, "Unknown result code"}, MessageCase{0x80000001, "Interface not supported"},
                    MessageCase{0x80000041, "Out of memory"}, MessageCase{0x80000044, "Buffer too small"},
                    MessageCase{0x80000048, "Unknown result code"}, MessageCase{0x8000004C, "Not found"},
                    MessageCase{0x8000004E, "Unknown result code"}, MessageCase{0x8000006A, "Invalid state"},
                    MessageCase{0x80000100, "Class not found"}, MessageCase{0x80000151, "Exception has no result code"},
                    MessageCase{0x80000313, "DateTime syntax error"},
                    MessageCase{0x80010100, "Unspecified platform error"}, MessageCase{0x80010103, "Path not found"},
                    MessageCase{0x80010109, "Invalid path name"}, MessageCase{0x8001010A, "Unknown result code"},
                    MessageCase{0x8001010F, "Unknown result code"},
                    MessageCase{0x80010110, "Cannot open an anonymous level security token"},
                    MessageCase{0x80010118, "System shutdown in progress"},
                    MessageCase{0x80010119, "Unknown result code"}, MessageCase{0x80020100, "Unknown result code"},
                    MessageCase{0x80060002, "Unknown result code"}, MessageCase{0xAD280050, "Unknown result code"}));

struct ErrnoCase {
  std::int32_t error;
  std::uint32_t result;
};

class ResultFromErrnoTest : public testing::TestWithParam<ErrnoCase> {};

TEST_P(ResultFromErrnoTest, MapsErrorNumber) {
  EXPECT_EQ(static_cast<std::uint32_t>(ozo::ResultFromErrno(GetParam().error)), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResultFromErrnoTest,
    testing::Values(ErrnoCase{0, 0}, ErrnoCase{EPERM, 0x80000045}, ErrnoCase{EACCES, 0x80000045},
                    ErrnoCase{ENOENT, 0x80010102}, ErrnoCase{EIO, 0x80000059}, ErrnoCase{ENOEXEC, 0x80010117},
                    ErrnoCase{EBADF, 0x80010101}, ErrnoCase{ENOMEM, 0x80000041}, ErrnoCase{EBUSY, 0x8000004F},
                    ErrnoCase{ETXTBSY, 0x8000004F}, ErrnoCase{EEXIST, 0x80010105}, ErrnoCase{ENOTDIR, 0x80010103},
                    ErrnoCase{EINVAL, 0x80000046}, ErrnoCase{EFBIG, 0x80000078}, ErrnoCase{ENOSPC, 0x80000062},
                    ErrnoCase{ENAMETOOLONG, 0x8000005C}, ErrnoCase{ELOOP, 0x8000006A}, ErrnoCase{EOVERFLOW, 0x80000044},
                    ErrnoCase{EINTR, 0x80060004}, ErrnoCase{65535, 0x8006FFFF}, ErrnoCase{65536, 0x80010100},
                    ErrnoCase{-1, 0x80010100}));

}  // namespace
