#include <gtest/gtest.h>

#include "syntax/content_mode.hpp"

using quorvel::syntax::ContentMode;

TEST(ContentMode, NamesRoundTrip) {
    for (auto mode : {ContentMode::Math, ContentMode::Text}) {
        EXPECT_EQ(quorvel::syntax::content_mode_from_name(quorvel::syntax::content_mode_name(mode)), mode);
    }
    EXPECT_FALSE(quorvel::syntax::content_mode_from_name("Math").has_value());
}
