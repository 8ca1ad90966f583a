#include "windows/media/runtime_primitives.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::helper {
namespace {

using Calls = std::vector<std::string>;
using namespace std::string_view_literals;

// Stand-ins for GStreamer objects: distinct addresses the fake runtime names in its call log.
alignas(8) unsigned char pipeline_object[16];
alignas(8) unsigned char element_object[16];
alignas(8) unsigned char bus_object[16];
alignas(8) unsigned char factory_object[16];
alignas(8) unsigned char message_object[80];  // a GstMessage: its type is the 32-bit field at byte 64

GstElement* const kPipeline = reinterpret_cast<GstElement*>(pipeline_object);
GstElement* const kElement = reinterpret_cast<GstElement*>(element_object);
GstBus* const kBus = reinterpret_cast<GstBus*>(bus_object);
GstElementFactory* const kFactory = reinterpret_cast<GstElementFactory*>(factory_object);
GstMessage* const kMessage = reinterpret_cast<GstMessage*>(message_object);

// Fills the message with noise and puts `type` at the type offset only.
void set_message_type(std::uint32_t type) {
  std::memset(message_object, 0xAB, sizeof message_object);
  std::memcpy(message_object + kGstMessageTypeOffset, &type, sizeof type);
}

std::string name_of(const void* object) {
  if (object == kPipeline) return "pipeline";
  if (object == kElement) return "element";
  if (object == kBus) return "bus";
  if (object == kFactory) return "factory";
  if (object == kMessage) return "message";
  return "unknown";
}

// A GError the fake runtime hands out: its code and text (nothing for a null message).
struct ScriptedError {
  int code = 1;
  std::optional<std::string> message;
};

// The scripted runtime's behaviour and what it saw. Memory it hands out (errors, strings) is tracked
// so that each test can check that everything was released exactly once.
struct FakeRuntime {
  Calls calls;
  std::string parsed_description;
  GstElement* parse_result = nullptr;
  std::optional<ScriptedError> parse_error;
  GstMessage* bus_message = nullptr;
  std::uint64_t pop_timeout = 99;
  unsigned pop_types = 0;
  std::optional<ScriptedError> message_error;
  std::optional<std::string> message_debug;
  std::map<std::string, GstElement*> children;
  std::set<std::string> factories;
  std::optional<std::string> version;
  std::set<const void*> outstanding;  // handed out, not yet freed
};

FakeRuntime fake;

char* duplicate(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  fake.outstanding.insert(copy);
  return copy;
}

GError* make_error(const ScriptedError& scripted) {
  auto* error = new GError{7, scripted.code, scripted.message ? duplicate(*scripted.message) : nullptr};
  fake.outstanding.insert(error);
  return error;
}

// Forgets a block handed out earlier; false (and a test failure) when it was not outstanding.
bool take_back(const void* memory) {
  if (fake.outstanding.erase(memory) == 0) {
    ADD_FAILURE() << "released memory that was not handed out (or twice)";
    return false;
  }
  return true;
}

char* fake_version_string() { return fake.version ? duplicate(*fake.version) : nullptr; }

GstElementFactory* fake_factory_find(const char* name) {
  fake.calls.push_back("find " + std::string(name));
  return fake.factories.count(name) != 0 ? kFactory : nullptr;
}

GstElement* fake_parse_launch(const char* description, GError** error) {
  fake.calls.push_back("parse");
  fake.parsed_description = description;
  if (fake.parse_error) {
    *error = make_error(*fake.parse_error);
  }
  return fake.parse_result;
}

int fake_set_state(GstElement* element, int state) {
  fake.calls.push_back("set_state " + name_of(element) + " " + std::to_string(state));
  return 1;
}

int fake_get_state(GstElement* element, int* state, int* pending, std::uint64_t timeout) {
  fake.calls.push_back("get_state " + name_of(element) + " " + std::to_string(timeout));
  *state = kGstStateNull;
  *pending = 0;
  return 1;
}

GstBus* fake_get_bus(GstElement* /*element*/) { return kBus; }

GstElement* fake_bin_get_by_name(GstElement* bin, const char* name) {
  fake.calls.push_back("get_by_name " + name_of(bin) + " " + std::string(name));
  const auto found = fake.children.find(name);
  return found != fake.children.end() ? found->second : nullptr;
}

GstMessage* fake_timed_pop_filtered(GstBus* bus, std::uint64_t timeout, unsigned types) {
  fake.calls.push_back("pop " + name_of(bus));
  fake.pop_timeout = timeout;
  fake.pop_types = types;
  return fake.bus_message;
}

void fake_parse_error(GstMessage* message, GError** error, char** debug) {
  fake.calls.push_back("parse_error " + name_of(message));
  *error = fake.message_error ? make_error(*fake.message_error) : nullptr;
  *debug = fake.message_debug ? duplicate(*fake.message_debug) : nullptr;
}

void fake_object_unref(void* object) { fake.calls.push_back("unref " + name_of(object)); }

void fake_mini_object_unref(void* object) { fake.calls.push_back("mini_unref " + name_of(object)); }

void fake_error_free(GError* error) {
  fake.calls.push_back("error_free");
  if (!take_back(error)) {
    return;
  }
  if (error->message != nullptr && take_back(error->message)) {
    delete[] error->message;
  }
  delete error;
}

void fake_g_free(void* memory) {
  fake.calls.push_back("g_free");
  if (memory != nullptr && take_back(memory)) {
    delete[] static_cast<char*>(memory);
  }
}

std::size_t fake_buffer_get_size(GstBuffer* /*buffer*/) { return 0; }

void fake_set_object_arg(void* object, const char* name, const char* value) {
  fake.calls.push_back("set_arg " + name_of(object) + " " + std::string(name) + "=" + std::string(value));
}

unsigned long fake_signal_connect_data(void* /*instance*/, const char* /*signal*/, void (* /*handler*/)(),
                                       void* /*data*/, void (* /*destroy*/)(void*, void*), int /*flags*/) {
  return 0;
}

class RuntimePrimitivesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = FakeRuntime{};
    set_message_type(kGstMessageEos);
    gst = RuntimeSymbols{.gst_version_string = fake_version_string,
                         .gst_element_factory_find = fake_factory_find,
                         .gst_parse_launch = fake_parse_launch,
                         .gst_element_set_state = fake_set_state,
                         .gst_element_get_state = fake_get_state,
                         .gst_element_get_bus = fake_get_bus,
                         .gst_bin_get_by_name = fake_bin_get_by_name,
                         .gst_bus_timed_pop_filtered = fake_timed_pop_filtered,
                         .gst_message_parse_error = fake_parse_error,
                         .gst_object_unref = fake_object_unref,
                         .gst_mini_object_unref = fake_mini_object_unref,
                         .g_error_free = fake_error_free,
                         .g_free = fake_g_free,
                         .gst_buffer_get_size = fake_buffer_get_size,
                         .gst_util_set_object_arg = fake_set_object_arg,
                         .g_signal_connect_data = fake_signal_connect_data};
  }

  void TearDown() override {
    EXPECT_TRUE(fake.outstanding.empty()) << fake.outstanding.size() << " block(s) handed out were not released";
  }

  // The error text of a bus ERROR message whose GError and debug text are these.
  std::string bus_error_text(std::optional<ScriptedError> error, std::optional<std::string> debug) {
    fake.message_error = std::move(error);
    fake.message_debug = std::move(debug);
    return describe_bus_error(gst, kMessage);
  }

  RuntimeSymbols gst{};
};

// --- launch_description

TEST_F(RuntimePrimitivesTest, DescriptionWithNulByteIsRejectedBeforeParsing) {
  fake.parse_result = kPipeline;
  const auto result = launch_description(gst, "videotestsrc\0 ! fakesink"sv);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "pipeline contains a null byte");
  EXPECT_EQ(fake.calls, Calls{});
}

TEST_F(RuntimePrimitivesTest, ParsedPipelineIsReturnedFromTheExactText) {
  fake.parse_result = kPipeline;
  // A view that ends inside a longer buffer: the parser must get exactly the viewed characters.
  const std::string_view text = std::string_view("videotestsrc ! fakesink ! extra").substr(0, 23);
  const auto result = launch_description(gst, text);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(*result, kPipeline);
  EXPECT_EQ(fake.parsed_description, "videotestsrc ! fakesink");
  EXPECT_EQ(fake.calls, Calls{"parse"});
}

TEST_F(RuntimePrimitivesTest, PipelineReturnedWithAnErrorIsReleasedAndRejected) {
  // GStreamer's parse error codes (syntax, no element, no property, link, could not set property,
  // empty bin, empty, delayed link) and one it may add later: none makes a partial pipeline usable.
  for (const int code : {0, 1, 2, 3, 4, 5, 6, 7, 42}) {
    SCOPED_TRACE(code);
    fake.calls.clear();
    fake.parse_result = kPipeline;
    fake.parse_error = ScriptedError{code, "no element \"d3d11screencapturesrc\""};
    const auto result = launch_description(gst, "videotestsrc ! d3d11screencapturesrc ! fakesink");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "no element \"d3d11screencapturesrc\"");
    EXPECT_EQ(fake.calls, (Calls{"parse", "error_free", "unref pipeline"}));
  }
  fake.calls.clear();
  fake.parse_error = ScriptedError{2, std::nullopt};
  const auto without_text = launch_description(gst, "videotestsrc bogus=1 ! fakesink");
  ASSERT_FALSE(without_text.ok());
  EXPECT_EQ(without_text.error(), "GStreamer rejected the capture pipeline");
  EXPECT_EQ(fake.calls, (Calls{"parse", "error_free", "unref pipeline"}));
}

TEST_F(RuntimePrimitivesTest, MissingPipelineFailsWithTheErrorTextOrAGenericOne) {
  fake.parse_error = ScriptedError{1, "no element \"nosuch\""};
  const auto with_text = launch_description(gst, "nosuch");
  ASSERT_FALSE(with_text.ok());
  EXPECT_EQ(with_text.error(), "no element \"nosuch\"");

  for (const std::optional<std::string>& message : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
    fake.parse_error = ScriptedError{0, message};
    const auto no_text = launch_description(gst, "a ! ! b");
    ASSERT_FALSE(no_text.ok());
    EXPECT_EQ(no_text.error(), "GStreamer rejected the capture pipeline");
  }

  fake.parse_error.reset();
  fake.calls.clear();
  const auto no_error = launch_description(gst, "anything");
  ASSERT_FALSE(no_error.ok());
  EXPECT_EQ(no_error.error(), "GStreamer rejected the capture pipeline");
  EXPECT_EQ(fake.calls, Calls{"parse"});  // nothing to release
}

// --- texts from GStreamer

TEST_F(RuntimePrimitivesTest, TextsFromGStreamerAreMadeValidUtf8) {
  // Ill-formed bytes become U+FFFD one byte at a time; well-formed sequences are kept.
  const std::string raw = "no element \"\xFF\xC3\xA9\xE2\x82\" \xED\xA0\x80";
  const std::string fixed =
      "no element \"\xEF\xBF\xBD\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\" \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";

  fake.parse_error = ScriptedError{1, raw};
  const auto launched = launch_description(gst, "x");
  ASSERT_FALSE(launched.ok());
  EXPECT_EQ(launched.error(), fixed);

  EXPECT_EQ(bus_error_text(ScriptedError{3, raw}, std::nullopt), fixed);

  fake.version = "GStreamer 1.22.0 \xC0\xAF";
  EXPECT_EQ(runtime_version(gst), "GStreamer 1.22.0 \xEF\xBF\xBD\xEF\xBF\xBD");
}

// --- describe_bus_error

TEST_F(RuntimePrimitivesTest, BusErrorTextComesFromTheErrorAndEverythingIsReleased) {
  EXPECT_EQ(bus_error_text(ScriptedError{3, "Resource not found."}, "gstfilesrc.c(557): /GstPipeline:pipeline0"),
            "Resource not found.");
  EXPECT_EQ(fake.calls, (Calls{"parse_error message", "mini_unref message", "error_free", "g_free"}));
}

TEST_F(RuntimePrimitivesTest, BusErrorWithoutTextGivesTheGenericText) {
  EXPECT_EQ(bus_error_text(std::nullopt, std::nullopt), "the media pipeline failed");
  EXPECT_EQ(fake.calls, (Calls{"parse_error message", "mini_unref message"}));
  EXPECT_EQ(bus_error_text(ScriptedError{1, std::nullopt}, "x"), "the media pipeline failed");
  EXPECT_EQ(bus_error_text(std::nullopt, "whipsink0"), "the media pipeline failed [component=whip]");
}

TEST_F(RuntimePrimitivesTest, SystemAudioSourceIsTaggedInAnyCaseAndWinsOverWhip) {
  const ScriptedError error{1, "Could not open device."};
  for (const char* debug :
       {"/GstPipeline:p/GstWasapi2Src:WASAPI2", "gstwasapi2src.cpp(123): open", "../sys/wasapi/GSTWASAPIsrc.c",
        "wasapi2src0 feeding whipclientsink0", "WhipClientSink0 after Wasapi2Src0"}) {
    SCOPED_TRACE(debug);
    EXPECT_EQ(bus_error_text(error, debug), "Could not open device. [component=system-audio]");
  }
}

TEST_F(RuntimePrimitivesTest, WhipSinkIsTaggedByEachOfItsNames) {
  const ScriptedError error{1, "Signalling error: Unexpected response: 404 - Invalid endpoint ID"};
  for (const char* debug : {"/GstPipeline:p/GstWhipSink:whipsink0", "WhipClientSink:sink", "net/webrtc/whip_signaller",
                            "RsWebRTC sink", "WebRTCHttp request failed"}) {
    SCOPED_TRACE(debug);
    EXPECT_EQ(bus_error_text(error, debug), *error.message + " [component=whip]");
  }
}

TEST_F(RuntimePrimitivesTest, OtherDebugTextAddsNoTag) {
  for (const char* debug : {"", "/GstPipeline:pipeline0/GstX264Enc:x264enc0", "whip endpoint", "wasapi src"}) {
    SCOPED_TRACE(debug);
    EXPECT_EQ(bus_error_text(ScriptedError{1, "Internal data stream error."}, debug), "Internal data stream error.");
  }
}

// --- poll_bus

TEST_F(RuntimePrimitivesTest, BusIsAskedWithoutWaitingForEndOfStreamAndErrorsOnly) {
  const BusPoll empty = poll_bus(gst, kBus);
  EXPECT_EQ(empty.event, BusEvent::none);
  EXPECT_EQ(empty.error_text, "");
  EXPECT_EQ(fake.pop_timeout, 0U);
  EXPECT_EQ(fake.pop_types, kGstMessageEos | kGstMessageError);
  EXPECT_EQ(fake.calls, Calls{"pop bus"});
}

TEST_F(RuntimePrimitivesTest, EndOfStreamIsReportedAndTheMessageReleased) {
  fake.bus_message = kMessage;
  set_message_type(kGstMessageEos);
  const BusPoll poll = poll_bus(gst, kBus);
  EXPECT_EQ(poll.event, BusEvent::eos);
  EXPECT_EQ(poll.error_text, "");
  EXPECT_EQ(fake.calls, (Calls{"pop bus", "mini_unref message"}));
}

TEST_F(RuntimePrimitivesTest, ErrorMessageIsDescribedAndReleasedOnce) {
  fake.bus_message = kMessage;
  set_message_type(kGstMessageError);
  fake.message_error = ScriptedError{3, "Resource not found."};
  fake.message_debug = "/GstPipeline:pipeline0/GstFileSrc:filesrc0";
  const BusPoll poll = poll_bus(gst, kBus);
  EXPECT_EQ(poll.event, BusEvent::error);
  EXPECT_EQ(poll.error_text, "Resource not found.");
  EXPECT_EQ(fake.calls, (Calls{"pop bus", "parse_error message", "mini_unref message", "error_free", "g_free"}));
}

TEST_F(RuntimePrimitivesTest, OtherMessagesAreReleasedAndIgnored) {
  fake.bus_message = kMessage;
  // warning, info, state-changed, and values whose low bits alone would look like EOS or ERROR.
  for (const std::uint32_t type : {4U, 8U, 64U, 0U, 0x101U, 0x80000002U}) {
    SCOPED_TRACE(type);
    fake.calls.clear();
    set_message_type(type);
    const BusPoll poll = poll_bus(gst, kBus);
    EXPECT_EQ(poll.event, BusEvent::none);
    EXPECT_EQ(fake.calls, (Calls{"pop bus", "mini_unref message"}));
  }
}

// --- set_element_property

TEST_F(RuntimePrimitivesTest, PropertyArgumentsWithNulAreRejectedInOrder) {
  const auto element = set_element_property(gst, kPipeline, "enc\0x"sv, "bit\0rate"sv, "4\0"sv);
  ASSERT_FALSE(element.ok());
  EXPECT_EQ(element.error(), "media element name is invalid");
  const auto property = set_element_property(gst, kPipeline, "encoder", "bit\0rate"sv, "4\0"sv);
  ASSERT_FALSE(property.ok());
  EXPECT_EQ(property.error(), "media property name is invalid");
  const auto value = set_element_property(gst, kPipeline, "encoder", "bitrate", "4\0"sv);
  ASSERT_FALSE(value.ok());
  EXPECT_EQ(value.error(), "media property value is invalid");
  EXPECT_EQ(fake.calls, Calls{});
}

TEST_F(RuntimePrimitivesTest, PropertyOfAMissingElementFailsNamingIt) {
  const auto result = set_element_property(gst, kPipeline, "encoder", "bitrate", "4500");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "media element encoder is unavailable");
  EXPECT_EQ(fake.calls, Calls{"get_by_name pipeline encoder"});
}

TEST_F(RuntimePrimitivesTest, PropertyIsSetOnTheNamedElementWhichIsThenReleased) {
  fake.children["encoder"] = kElement;
  const std::string_view line = "encoder.bitrate=4500;";
  const auto result = set_element_property(gst, kPipeline, line.substr(0, 7), line.substr(8, 7), line.substr(16, 4));
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(fake.calls, (Calls{"get_by_name pipeline encoder", "set_arg element bitrate=4500", "unref element"}));
}

// --- element_available

TEST_F(RuntimePrimitivesTest, FoundFactoryIsReleasedAndReportedPresent) {
  fake.factories = {"x264enc"};
  EXPECT_TRUE(element_available(gst, "x264enc"));
  EXPECT_FALSE(element_available(gst, "d3d11screencapturesrc"));
  EXPECT_FALSE(element_available(gst, "x264enc\0"sv));  // never asked: no factory name holds a NUL
  EXPECT_TRUE(element_available(gst, std::string_view("x264enc, more").substr(0, 7)));
  EXPECT_EQ(fake.calls,
            (Calls{"find x264enc", "unref factory", "find d3d11screencapturesrc", "find x264enc", "unref factory"}));
}

// --- release_pipeline

TEST_F(RuntimePrimitivesTest, ReleaseStopsAndWaitsThenReleasesBusAndPipeline) {
  release_pipeline(gst, kPipeline, kBus, 5 * kGstSecond);
  EXPECT_EQ(fake.calls,
            (Calls{"set_state pipeline 1", "get_state pipeline 5000000000", "unref bus", "unref pipeline"}));
  fake.calls.clear();
  release_pipeline(gst, kPipeline, nullptr, 0);
  EXPECT_EQ(fake.calls, (Calls{"set_state pipeline 1", "get_state pipeline 0", "unref pipeline"}));
}

// --- runtime_version

TEST_F(RuntimePrimitivesTest, VersionIsCopiedAndItsStringFreed) {
  fake.version = "GStreamer 1.22.0";
  EXPECT_EQ(runtime_version(gst), "GStreamer 1.22.0");
  EXPECT_EQ(fake.calls, Calls{"g_free"});
}

}  // namespace
}  // namespace corvane::helper
