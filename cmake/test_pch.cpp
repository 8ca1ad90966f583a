// The one source of corvane_test_pch, the target whose precompiled GoogleTest header the test
// executables share (see corvane_gtest).
