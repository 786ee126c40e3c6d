#include "cli/farm_command.h"

#include <CLI/CLI.hpp>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "cli/failure.h"
#include "cli/progress.h"
#include "cli/render_command.h"
#include "cli/signals.h"
#include "footage/movie_source.h"
#include "scene/batch.h"
#include "scene/job.h"
#include "farm/chunks.h"
#include "farm/slurm_job.h"

extern char** environ;

namespace cli {

namespace {

namespace fs = std::filesystem;

std::string absolute(const std::string& path) { return path.empty() ? path : fs::absolute(path).string(); }

// Mask text with every @FILE reference ("@a.svg", "@a.svg#id", keys
// "0:@a.svg,24:@b.svg") made absolute; path data has no '@' and stays.
std::string absolute_mask(const std::string& text) {
    if (text.find('@') == std::string::npos) return text;
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        const std::size_t at = item.find('@');
        if (at != std::string::npos) item = item.substr(0, at + 1) + absolute(item.substr(at + 1));
        out += item;
        if (comma == std::string::npos) break;
        out += ',';
        start = comma + 1;
    }
    return out;
}

std::vector<int64_t> as_int64(const std::vector<long>& frames) { return {frames.begin(), frames.end()}; }

// Runs `argv` with this process's output; its exit status (128+N for a
// signal, 127 when it cannot start).
int run_program(const std::vector<std::string>& argv) {
    std::vector<char*> raw;
    for (const std::string& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, raw[0], nullptr, nullptr, raw.data(), environ) != 0) return 127;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// This program, named absolutely, for scripts run elsewhere.
std::string own_path() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) throw Failure(kExitUsage, "cannot find the trellis program's own path: " + ec.message());
    return self.string();
}

}  // namespace

CLI::App* add_frames_command(CLI::App& app, FramesArgs& args) {
    CLI::App* cmd = app.add_subcommand("frames", "Print a frame list, or its parts for the tasks of a farm");
    cmd->add_option("list", args.list, "frames: N, A-B, A-BxS and comma lists of them")->required()->type_name("LIST");
    cmd->add_option("--chunks", args.chunks, "print N even, contiguous parts of the list, one line each")
        ->check(CLI::Range(1L, 100000L).description(""))
        ->type_name("N");
    return cmd;
}

CLI::App* add_verify_command(CLI::App& app, VerifyArgs& args) {
    CLI::App* cmd = app.add_subcommand("verify", "List the frames of a list that are missing or unreadable");
    cmd->footer("Exit status: 0 every frame is there and reads whole; 1 some are not (one line each on\n"
                "standard output: missing FRAME PATH, or unreadable FRAME PATH: why); 2 a bad command line.\n");
    cmd->add_option("list", args.list, "frames: N, A-B, A-BxS and comma lists of them")->required()->type_name("LIST");
    cmd->add_option("-o,--output", args.pattern, "the frames' names, as render's -o: out.####.exr, out_%04d.png")
        ->required()
        ->type_name("PATTERN");
    cmd->add_flag("-q,--quiet", args.quiet, "no summary line");
    return cmd;
}

CLI::App* add_encode_command(CLI::App& app, EncodeArgs& args) {
    CLI::App* cmd = app.add_subcommand("encode", "Encode an image sequence into a movie, as render -o movie does");
    cmd->add_option("pattern", args.pattern, "the frames: frame.####.png, frame_%04d.exr")->required()->type_name("PATTERN");
    cmd->add_option("--frames", args.frames, "the frames, in movie order")->required()->type_name("LIST");
    cmd->add_option("-o,--output", args.out, "the movie: .mov (ProRes 4444), .mp4 (H.264), .mkv (FFV1)")
        ->required()
        ->type_name("MOVIE");
    cmd->add_option("--fps", args.fps, "frames per second (default 24)")->type_name("F|N/D");
    add_encoder_flags(*cmd, args.codec, args.quality);
    cmd->add_option("--jobs", args.jobs, "the most threads the encoder uses (default: one per core)")
        ->check(CLI::Range(1, 1024).description(""))
        ->type_name("N");
    cmd->add_flag("-q,--quiet", args.quiet, "no progress report");
    return cmd;
}

CLI::App* add_farm_command(CLI::App& app, FarmArgs& args) {
    CLI::App* farm = app.add_subcommand("farm", "Split a render among the tasks of a render farm");
    farm->require_subcommand(1);
    CLI::App* cmd = farm->add_subcommand("slurm", "Write (and submit) a Slurm job folder that renders a shot");
    add_render_flags(*cmd, args.render);
    cmd->footer(
        "Takes render's flags. Writes DIR/render.sbatch (an array of --chunks tasks, each rendering\n"
        "its part of --frames, skipping frames already written), for a movie output DIR/assemble.sbatch\n"
        "(frames rendered into DIR/frames/ first, then checked and encoded once every task is done),\n"
        "DIR/submit.sh and DIR/README.txt. --jobs is each task's CPUs (default 1).\n");
    cmd->add_option("--chunks", args.chunks, "array tasks: the frame list in N even, contiguous parts")
        ->required()
        ->check(CLI::Range(1L, 100000L).description(""))
        ->type_name("N");
    cmd->add_option("--max-running", args.max_running, "at most K tasks running at once (spares the shared storage)")
        ->check(CLI::Range(1L, 100000L).description(""))
        ->type_name("K");
    cmd->add_option("--job-dir", args.job_dir, "the job folder to write (scripts, logs, a movie's frames)")
        ->required()
        ->type_name("DIR");
    cmd->add_option("--name", args.name, "the job's name in the queue (default: trellis-<folder name>)")
        ->type_name("NAME");
    cmd->add_option("--partition", args.partition, "Slurm partition")->type_name("P");
    cmd->add_option("--time-limit", args.time_limit, "each task's time limit, as sbatch --time takes it")
        ->type_name("T");
    cmd->add_option("--mem", args.memory, "each task's memory, as sbatch --mem takes it (e.g. 8G)")->type_name("M");
    cmd->add_flag("--submit", args.submit, "submit it with sbatch and print the job ids");
    return farm;
}

int run_frames(const FramesArgs& args) {
    const std::vector<int64_t> frames = as_int64(frame_list(args.list));
    if (args.chunks == 0) {
        std::printf("%s\n", farm::format_frame_list(frames).c_str());
        return 0;
    }
    for (long i = 1; i <= args.chunks; ++i) {
        std::printf("%s\n", farm::format_frame_list(farm::chunk_of(frames, {i, args.chunks})).c_str());
    }
    return 0;
}

int run_verify(const VerifyArgs& args) {
    if (is_movie_name(args.pattern)) usage_error("-o " + args.pattern + ": verify checks image frames, not a movie");
    const OutputPattern pattern = OutputPattern::parse(args.pattern);
    const std::vector<long> frames = frame_list(args.list);
    if (frames.size() > 1 && !pattern.numbered()) usage_error("-o " + args.pattern + ": no frame number in the name");
    long bad = 0;
    for (const long f : frames) {
        const std::string path = pattern.path(f);
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) {
            std::printf("missing %ld %s\n", f, path.c_str());
            ++bad;
            continue;
        }
        try {
            (void)read_image(path);
        } catch (const ImageError& e) {
            std::printf("unreadable %ld %s: %s\n", f, path.c_str(), e.what());
            ++bad;
        }
    }
    std::fflush(stdout);
    if (!args.quiet) {
        if (bad == 0) {
            std::fprintf(stderr, "trellis: all %zu frames present\n", frames.size());
        } else {
            std::fprintf(stderr, "trellis: %ld of %zu frames missing or unreadable\n", bad, frames.size());
        }
    }
    return bad == 0 ? 0 : 1;
}

int run_encode(const EncodeArgs& args) {
    const OutputPattern pattern = OutputPattern::parse(args.pattern);
    if (!pattern.numbered()) usage_error(args.pattern + ": no frame number in the name (frame.####.png, frame_%04d.exr)");
    const std::vector<long> frames = frame_list(args.frames);
    MovieSettings movie;
    movie.codec = args.codec;
    if (args.quality >= 0) movie.quality = args.quality;
    if (!args.fps.empty()) movie.rate = flag_value("--fps", [&] { return parse_frame_rate(args.fps); });
    movie.threads = args.jobs > 0 ? args.jobs : worker_count(0, frames.size());
    if (!is_movie_name(args.out)) usage_error("-o " + args.out + ": not a movie name (.mov, .mp4, .mkv, ...)");
    flag_value("-o", [&] { check_movie_output(args.out, movie); });

    install_interrupt_handler();
    std::FILE* const report = Progress::report_stream();
    Progress progress(Progress::choose(args.quiet, report), static_cast<long>(frames.size()), report);
    MovieSink sink(
        args.out, movie, 1, [&](std::size_t i) { progress.frame_done(frames[i], args.out); },
        [&progress](const std::string& message) { progress.warning(message); });
    // 8-bit frames go in as they are; deeper ones in float, which gives the
    // encoder's 16-bit samples exactly as a render's frames would.
    std::optional<Image::Depth> depth;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (interrupt_requested()) break;
        const std::string path = pattern.path(frames[i]);
        progress.frame_started(frames[i]);
        Image image = flag_value("frame " + std::to_string(frames[i]), [&] {
            if (!depth) depth = read_image(path).depth() == Image::k8 ? Image::k8 : Image::kFloat;
            return read_image(path, *depth);
        });
        sink.put(i, std::move(image));
    }
    progress.finish();
    if (interrupt_requested()) end_by_interrupt();  // the sink's file goes with the process
    sink.finish(frames.size());
    return 0;
}

std::vector<std::string> portable_render_args(const RenderArgs& a, const std::string& out) {
    std::vector<std::string> v;
    auto add = [&v](const char* flag, const std::string& value) {
        if (!value.empty()) v.insert(v.end(), {flag, value});
    };
    add("--input", absolute(a.input));
    add("--input-size", a.input_size);
    if (!a.input_size.empty()) add("--input-color", a.input_color);
    add("--layer", absolute(a.layer));
    add("--layer-size", a.layer_size);
    if (!a.layer_size.empty()) add("--layer-color", a.layer_color);
    add("--mask", absolute_mask(a.mask));
    for (const auto& [flag, text] : a.values) {
        if (flag == "--various-directions" || flag == "--on-original") {
            v.push_back(text == "1" ? flag : flag + "=false");
        } else {
            v.push_back(flag + "=" + text);
        }
    }
    add("--depth", a.depth);
    add("--downsample", a.downsample);
    if (a.input_offset != 0) add("--input-offset", std::to_string(a.input_offset));
    if (a.layer_offset != 0) add("--layer-offset", std::to_string(a.layer_offset));
    add("--fps", a.fps);
    add("--exr-compression", a.exr_compression);
    add("--exr-type", a.exr_type);
    if (a.png_compression >= 0) add("--png-compression", std::to_string(a.png_compression));
    add("--layer-end", a.layer_end);
    add("--working-colorspace", a.working_colorspace);
    add("--input-colorspace", a.input_colorspace);
    add("--layer-colorspace", a.layer_colorspace);
    add("--output-colorspace", a.output_colorspace);
    const char* env_plugin = std::getenv("TRELLIS_PLUGIN");
    add("--plugin", absolute(!a.plugin.empty() ? a.plugin : env_plugin != nullptr ? env_plugin : ""));
    add("-o", out);
    return v;
}

int run_farm(const FarmArgs& args) {
    const std::string folder = absolute(args.job_dir);
    // The folder goes into #SBATCH lines, which know no quoting, and into
    // log names, where Slurm expands '%'.
    if (folder.find_first_of(" \t\n\"'\\%") != std::string::npos) {
        usage_error("--job-dir " + args.job_dir + ": a folder whose path has no blanks, quotes, '\\' or '%'");
    }
    RenderArgs render = args.render;
    // Tasks, verify and the assembly all name frames by render frame.
    if (render.output_offset != 0) usage_error("--output-offset: not for a farm job (its frames keep render numbers)");
    if (render.jobs == 0) render.jobs = 1;
    // Every flag checked, the module loaded and the inputs opened here, so
    // that a mistake shows now rather than on the farm.
    const RenderJob job = make_job(render);

    farm::SlurmJob slurm;
    slurm.folder = folder;
    slurm.trellis = own_path();
    std::string name = args.name.empty() ? "trellis-" + fs::path(folder).filename().string() : args.name;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
    }
    slurm.name = name;
    slurm.frames = render.frames.empty() ? "0" : render.frames;
    slurm.cpus_per_task = render.jobs;
    slurm.max_running = args.max_running;
    slurm.partition = args.partition;
    slurm.time_limit = args.time_limit;
    slurm.memory = args.memory;
    slurm.output = absolute(render.out);
    // More tasks than frames would leave some with nothing to do.
    const std::vector<int64_t> frames = as_int64(job.frames);
    const long chunks = std::min<long>(args.chunks, static_cast<long>(frames.size()));
    for (long i = 1; i <= chunks; ++i) slurm.chunk_frames.push_back(farm::format_frame_list(farm::chunk_of(frames, {i, chunks})));

    if (job.output.movie) {
        const MovieSettings& movie = *job.output.movie;
        const std::string rate = std::to_string(movie.rate.num) + "/" + std::to_string(movie.rate.den);
        // Lossless frames of the depth the movie writer takes them at: 8 bits,
        // or 16 for anything deeper.
        const std::string pattern = folder + "/frames/frame.######.png";
        render.fps = rate;
        render.codec.clear();
        render.quality = -1;
        slurm.render_args = portable_render_args(render, pattern);
        farm::SlurmAssembly assembly;
        assembly.verify_args = {slurm.frames, "-o", pattern};
        assembly.encode_args = {pattern, "--frames", slurm.frames, "-o", slurm.output, "--fps", rate,
                                "--jobs", std::to_string(render.jobs)};
        if (!movie.codec.empty()) assembly.encode_args.insert(assembly.encode_args.end(), {"--codec", movie.codec});
        if (movie.quality) {
            assembly.encode_args.insert(assembly.encode_args.end(), {"--quality", std::to_string(*movie.quality)});
        }
        slurm.assembly = assembly;
    } else {
        slurm.render_args = portable_render_args(render, slurm.output);
    }
    try {
        farm::write_slurm_job(slurm);
    } catch (const std::runtime_error& e) {
        throw Failure(kExitUnwritable, e.what());
    }
    std::fprintf(stderr, "trellis: job folder %s: %ld render tasks%s; submit with sh %s/%s\n", folder.c_str(), chunks,
                 slurm.assembly ? " and the movie's assembly" : "", folder.c_str(), farm::kSubmitScript);
    if (!args.submit) return 0;
    const int status = run_program({"/bin/sh", folder + "/" + farm::kSubmitScript});
    if (status != 0) throw Failure(kExitEffectError, "submitting with sbatch failed (" + std::to_string(status) + ")");
    return 0;
}

}  // namespace cli
