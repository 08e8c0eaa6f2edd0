// One errno table serves reading and writing.
#include <gtest/gtest.h>

#include <cerrno>

#include "base/errno_error.h"

namespace {

TEST(ErrnoError, EachErrnoHasItsResult) {
  const struct {
    int error;
    OSErr expected;
  } cases[] = {{ENOENT, fnfErr},
               {ENOTDIR, fnfErr},
               {ENAMETOOLONG, fnfErr},
               {ELOOP, fnfErr},
               {EACCES, accessDeniedErr},
               {EPERM, accessDeniedErr},
               {EROFS, accessDeniedErr},
               {ETXTBSY, accessDeniedErr},
               {EISDIR, accessDeniedErr},
               {ENOSPC, dskFulErr},
               {EDQUOT, dskFulErr},
               {EFBIG, dskFulErr},
               {ENOMEM, memFullErr},
               {ENXIO, ioErr},
               {EIO, ioErr},
               {0, ioErr}};
  for (const auto& c : cases) EXPECT_EQ(ErrorFromErrno(c.error), c.expected) << "errno " << c.error;
}

}  // namespace
