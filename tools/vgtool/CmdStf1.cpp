// vgtool stf1 encode|decode: the header-value encoding, stdin to stdout.
#include "Command.h"
#include "protection/STFCode.h"

namespace {
vgtool::Registration reg("stf1", "stf1 encode|decode  (standard input to standard output)",
                         [](const vgtool::Args& args) {
                           if (args.size() != 1) throw vgtool::UsageError{"expected encode or decode"};
                           const std::string in = vgtool::ReadAllStdin();
                           if (args[0] == "encode") {
                             vgtool::WriteStdout(vg::TSTF1::Encode(in));
                           } else if (args[0] == "decode") {
                             vgtool::WriteStdout(vg::TSTF1::Decode(in));
                           } else {
                             throw vgtool::UsageError{"unknown mode '" + args[0] + "'"};
                           }
                           return 0;
                         });
}  // namespace
