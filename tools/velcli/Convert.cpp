// convert: the library's BMP-to-JPEG compression and JPEG-to-grey-BMP decompression.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "Cli.h"
#include "Commands.h"
#include "ImgEngine.h"

namespace velcli {

// By the input's extension: .bmp compresses, anything else decompresses.
int runConvert(Context& c) {
  const Options& o = c.options;
  if (o.arguments.size() != 2) {
    c.report.fail("convert needs IN and OUT");
    return kUsage;
  }
  const std::string& in = o.arguments[0];
  const std::string& out = o.arguments[1];
  std::string extension = std::filesystem::path(in).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char ch) { return std::tolower(ch); });
  const bool compress = extension == ".bmp";
  const bool toStdout = out == "-";
  if (toStdout && (compress || c.report.json())) {
    c.report.fail(compress ? "a JPEG is not written to the standard output"
                           : "--json: OUT - would mix the BMP into the document");
    return kUsage;
  }
  const int result = compress ? VelExecuteCompression(in.c_str(), out.c_str())
                              : VelExecuteDecompression(in.c_str(), toStdout ? nullptr : out.c_str());
  Json& r = c.report.root();
  r["operation"] = Json::string(compress ? "compress" : "decompress");
  r["input"] = Json::string(in), r["output"] = Json::string(out), r["result"] = Json::number(result);
  if (!toStdout && !c.report.json())
    std::printf("%s %s -> %s: %d\n", compress ? "compress" : "decompress", in.c_str(), out.c_str(), result);
  if (result == 1) return kOk;
  c.report.fail((compress ? "compress " : "decompress ") + in + " -> " + out + ": " + std::to_string(result));
  return kFileError;
}

}  // namespace velcli
