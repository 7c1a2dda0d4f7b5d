#include "gif_checks.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "gif_decoder.h"
#include "process_runner.h"

namespace {

std::string found(const std::string& command) {
    std::string path;
    if (runShell("command -v " + command + " 2>/dev/null", &path) != 0) return "";
    return path.substr(0, path.find('\n'));
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const char kPillowScript[] =
    "import sys\nfrom PIL import Image, ImageSequence\n"
    "for frame in ImageSequence.Iterator(Image.open(sys.argv[1])):\n"
    "    sys.stdout.buffer.write(frame.convert('RGB').tobytes())\n";

// Decodes every frame with ImageDecoder and prints them as hex, red, green and
// blue, between two marks (written apart in the script, which the page holds too).
const char kChromiumPage[] = R"(<pre id=out></pre><script>
(async () => {
  const bytes = new Uint8Array(await (await fetch(document.body.dataset.gif)).arrayBuffer());
  const decoder = new ImageDecoder({data: bytes, type: 'image/gif'});
  await decoder.tracks.ready;
  let hex = '';
  for (let i = 0; i < decoder.tracks.selectedTrack.frameCount; ++i) {
    const image = (await decoder.decode({frameIndex: i})).image;
    const canvas = new OffscreenCanvas(image.displayWidth, image.displayHeight);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    const rgba = context.getImageData(0, 0, canvas.width, canvas.height).data;
    for (let p = 0; p < rgba.length; ++p)
      if (p % 4 != 3) hex += rgba[p].toString(16).padStart(2, '0');
  }
  document.getElementById('out').textContent = 'FRAMES' + '[' + hex + ']' + 'FRAMES';
})().catch(e => document.getElementById('out').textContent = 'ERROR ' + e).finally(() => done = true);
// Virtual time would run out while the frames decode: timers that take real time keep it.
let done = false, spun = 0;
(function keep() { for (let i = 0; i < 3e6 && !done; ++i) spun += i; if (!done) setTimeout(keep, 10); })();
</script>)";

ProcessResult runChromium(const std::string& chromium, const std::string& path) {
    const std::string page = path + ".html";
    std::ofstream(page) << "<body data-gif='file://" << path << "'>" << kChromiumPage;
    ProcessResult result = runProcess(
        chromium, {{"--headless", "--no-sandbox", "--disable-gpu", "--allow-file-access-from-files",
                    "--virtual-time-budget=60000", "--dump-dom", "file://" + page}});
    const size_t start = result.out.find("FRAMES[");
    const size_t end = result.out.find("]FRAMES");
    if (start == std::string::npos || end == std::string::npos) {
        const size_t shown = result.out.find("<pre");
        result.err = shown == std::string::npos ? result.err : result.out.substr(shown, 300);
        result.exitStatus = 1;
        return result;
    }
    std::string rgb;
    for (size_t at = start + 7; at + 1 < end; at += 2)
        rgb += static_cast<char>(std::stoi(result.out.substr(at, 2), nullptr, 16));
    result.out = rgb;
    return result;
}

ProcessResult decode(GifDecoderTool tool, const std::string& program, const std::string& path) {
    switch (tool) {
        case GifDecoderTool::kFfmpeg:
            return runProcess(program, {{"-nostdin", "-v", "error", "-i", path, "-fps_mode",
                                         "passthrough", "-f", "rawvideo", "-pix_fmt", "rgb24",
                                         "-"}});
        case GifDecoderTool::kImageMagick:
            return runProcess(program, {{path, "-coalesce", "-depth", "8", "rgb:-"}});
        case GifDecoderTool::kPillow:
            return runProcess(program, {{"-c", kPillowScript, path}});
        case GifDecoderTool::kChromium:
            return runChromium(program, path);
        case GifDecoderTool::kPlain:
            break;
    }
    const std::string file = readAll(path);
    const DecodedGif gif = decodeGif(std::vector<uint8_t>(file.begin(), file.end()));
    ProcessResult result{"", gif.error, gif.error.empty() ? 0 : 1};
    for (const DecodedGifFrame& frame : gif.frames)
        result.out.append(frame.rgb.begin(), frame.rgb.end());
    return result;
}

// The program that decodes with tool, or "" when it is not installed.
std::string decoderProgram(GifDecoderTool tool) {
    switch (tool) {
        case GifDecoderTool::kPlain:
            return "plain";
        case GifDecoderTool::kFfmpeg:
            return found("ffmpeg");
        case GifDecoderTool::kImageMagick:
            for (const char* convert : {"/usr/bin/convert", "convert"}) {  // not a stand-in
                if (runShell(std::string(convert) + " -version 2>/dev/null | grep -q ImageMagick") == 0)
                    return found(convert);
            }
            return "";
        case GifDecoderTool::kPillow:
            for (const char* python : {"python3", "/usr/bin/python3"}) {
                if (runShell(std::string(python) + " -c 'import PIL' 2>/dev/null") == 0)
                    return found(python);
            }
            return "";
        case GifDecoderTool::kChromium:
            return found("chromium").empty() ? found("chromium-browser") : found("chromium");
    }
    return "";
}

const char* const kNames[] = {"the plain decoder", "ffmpeg", "ImageMagick's convert",
                              "Python's Pillow", "Chromium"};

}  // namespace

std::string missingGifDecoder(GifDecoderTool tool) {
    if (!decoderProgram(tool).empty()) return "";
    return std::string(kNames[static_cast<int>(tool)]) + " is not installed; not checked";
}

GifCheck checkGifFrames(GifDecoderTool tool, const std::string& path,
                        const std::vector<std::string>& expected, int width) {
    const std::string name = kNames[static_cast<int>(tool)];
    const std::string program = decoderProgram(tool);
    if (program.empty()) return {true, missingGifDecoder(tool)};
    const ProcessResult decoded = decode(tool, program, path);
    if (decoded.exitStatus != 0) return {false, name + " failed: " + decoded.err};
    std::string all;
    for (const std::string& frame : expected)
        all += frame;
    if (decoded.out.size() != all.size()) {
        return {false, name + " decoded " + std::to_string(decoded.out.size()) + " bytes, not " +
                           std::to_string(all.size())};
    }
    const auto differs = std::mismatch(all.begin(), all.end(), decoded.out.begin()).first;
    if (differs == all.end()) return {};
    const size_t frameSize = expected.front().size();
    const size_t at = static_cast<size_t>(differs - all.begin());
    const size_t pixel = at % frameSize / 3;
    return {false, name + ": frame " + std::to_string(at / frameSize + 1) + " differs at x " +
                       std::to_string(pixel % static_cast<size_t>(width)) + ", y " +
                       std::to_string(pixel / static_cast<size_t>(width))};
}
