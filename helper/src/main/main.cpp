// Entry of corvane_media_helper.exe: parse the command line, run, report one error line or nothing.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/unicode.h"
#include "main/helper_services.h"
#include "main/launch_config.h"
#include "main/pipe_server.h"
#include "main/pipe_stream.h"
#include "main/session.h"
#include "platform/crash_handler.h"
#include "platform/standard_error.h"

namespace {

std::vector<corvane::helper::CommandLineArgument> utf8_arguments(int argc, wchar_t** argv) {
  std::vector<corvane::helper::CommandLineArgument> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    const std::wstring_view wide(argv[i]);
    if (auto text = corvane::utf16_to_utf8_strict(wide)) {
      arguments.push_back({std::move(*text), true});
    } else {
      arguments.push_back({corvane::utf16_to_utf8_lossy(wide), false});
    }
  }
  return arguments;
}

// Start-up after parsing: parent check, pipe, client check, then the session.
corvane::Status serve(const corvane::helper::LaunchConfig& config) {
  using namespace corvane::helper;
  auto parent = verify_parent(config.parent_pid);
  if (!parent) {
    return corvane::fail(parent.error());
  }
  auto pipe = create_restricted_pipe(config.pipe_id);
  if (!pipe) {
    return corvane::fail(pipe.error());
  }
  auto client = accept_parent_client(std::move(pipe).value(), *parent);
  if (!client) {
    return corvane::fail(client.error());
  }
  PipeStream stream(std::move(client).value());
  HelperServices services(parent->process.get());
  return run_session(
      stream, [&stream] { stream.disconnect_and_close(); }, config, services);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  corvane::helper::install_crash_handler();
  const auto arguments = utf8_arguments(argc, argv);
  const auto config = corvane::helper::parse_launch_config(arguments);
  if (!config) {
    corvane::helper::write_standard_error_line("corvane-media-helper: " + config.error());
    return 1;
  }
  const auto served = serve(*config);
  if (!served) {
    corvane::helper::write_standard_error_line("corvane-media-helper: " + served.error());
    return 1;
  }
  return 0;
}
