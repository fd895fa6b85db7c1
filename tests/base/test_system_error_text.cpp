// The operator's words for the system's errors: the common errno values read
// Russian, whichever kind of error code carries them; any other reads by its
// number, never by the system's English.
#include <cerrno>
#include <system_error>

#include <boost/asio/error.hpp>
#include <boost/system/error_code.hpp>
#include <gtest/gtest.h>

#include "base/system_error_text.h"
#include "base/text.h"

TEST(SystemErrorText, CommonCausesReadRussianAndOthersByTheirNumber) {
    for (const int cause : {ENETUNREACH, ENETDOWN, EHOSTUNREACH, EADDRNOTAVAIL, EADDRINUSE, ENOBUFS, ENODEV,
                            ECONNREFUSED, ETIMEDOUT, ENOSPC, EROFS, EACCES, EPERM, ENOENT, EIO, EMFILE, ENOMEM}) {
        const std::wstring text = base::errnoForOperator(cause);
        EXPECT_EQ(text.find(L"системная ошибка"), std::wstring::npos) << cause << ": " << base::toUtf8(text);
        EXPECT_EQ(base::errorForOperator(boost::system::error_code(cause, boost::system::system_category())), text);
        EXPECT_EQ(base::errorForOperator(std::error_code(cause, std::generic_category())), text);
    }
    EXPECT_EQ(base::errnoForOperator(EPROTO), L"системная ошибка " + std::to_wstring(EPROTO));
    EXPECT_EQ(base::errorForOperator(boost::asio::error::host_not_found), L"ошибка 1") << "not an errno value";
}
