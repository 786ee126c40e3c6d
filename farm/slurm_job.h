// A shot as a Slurm job folder: an array job whose tasks each render one
// part of the frame list, and for a movie an assembly job that waits for
// every task, checks the frames and encodes them. The folder holds the batch
// scripts, a submit script, the per-task logs and a summary; every path in
// them is absolute, so they run on any node that sees the same files.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace farm {

struct SlurmAssembly {
    // The arguments of `trellis verify` and then `trellis encode`, after the
    // program.
    std::vector<std::string> verify_args;
    std::vector<std::string> encode_args;
};

struct SlurmJob {
    // Absolute: where the folder goes, and the trellis every task runs.
    std::string folder;
    std::string trellis;
    // A short name for the queue (letters, digits, '-', '_', '.').
    std::string name;
    // `trellis render` arguments (after "render") that every task shares;
    // the task adds its part of the frames.
    std::vector<std::string> render_args;
    // The frame list, as `--frames` takes it, and its parts, in order.
    std::string frames;
    std::vector<std::string> chunk_frames;
    int cpus_per_task = 1;
    // The most tasks running at once; 0: as many as the farm runs.
    long max_running = 0;
    // Passed to sbatch when not empty.
    std::string partition;
    std::string time_limit;
    std::string memory;
    // Seconds before the time limit at which a task is asked to stop.
    int stop_warning_seconds = 120;
    std::optional<SlurmAssembly> assembly;
    // What the render makes, for the summary.
    std::string output;
};

// The names of the files written in `job.folder`.
inline constexpr const char* kRenderScript = "render.sbatch";
inline constexpr const char* kAssembleScript = "assemble.sbatch";
inline constexpr const char* kSubmitScript = "submit.sh";
inline constexpr const char* kSummary = "README.txt";

// Writes the folder (and its logs/ folder) with the render script, the
// assembly script when there is an assembly, the submit script and the
// summary. Throws std::runtime_error naming a file that cannot be written.
void write_slurm_job(const SlurmJob& job);

// `word` quoted for a POSIX shell when it needs it.
std::string shell_quote(const std::string& word);

}  // namespace farm
