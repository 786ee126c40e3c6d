#include "farm/slurm_job.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace farm {

namespace {

namespace fs = std::filesystem;

std::string command_line(const std::string& program, const std::string& command, const std::vector<std::string>& args) {
    std::string line = shell_quote(program) + " " + command;
    for (const std::string& a : args) line += " " + shell_quote(a);
    return line;
}

// The #SBATCH lines every script shares.
std::string common_options(const SlurmJob& job) {
    std::string s;
    s += "#SBATCH --ntasks=1\n";
    s += "#SBATCH --cpus-per-task=" + std::to_string(job.cpus_per_task) + "\n";
    if (!job.partition.empty()) s += "#SBATCH --partition=" + job.partition + "\n";
    if (!job.time_limit.empty()) s += "#SBATCH --time=" + job.time_limit + "\n";
    if (!job.memory.empty()) s += "#SBATCH --mem=" + job.memory + "\n";
    // A requeued task runs again under the same log, after its first run.
    s += "#SBATCH --requeue\n";
    s += "#SBATCH --open-mode=append\n";
    s += "#SBATCH --chdir=" + job.folder + "\n";
    return s;
}

std::string render_script(const SlurmJob& job) {
    const std::size_t n = job.chunk_frames.size();
    std::vector<std::string> args = job.render_args;
    args.insert(args.end(), {"--frames", job.frames, "--chunk", "slurm", "--skip-existing"});
    std::string s = "#!/bin/bash\n";
    s += "#SBATCH --job-name=" + job.name + "\n";
    s += "#SBATCH --array=1-" + std::to_string(n) +
         (job.max_running > 0 ? "%" + std::to_string(job.max_running) : std::string()) + "\n";
    s += "#SBATCH --output=" + job.folder + "/logs/render-%A_%a.log\n";
    // Asked to stop before the time limit: the frames in flight write
    // nothing, finished ones stay for the rerun.
    s += "#SBATCH --signal=B:TERM@" + std::to_string(job.stop_warning_seconds) + "\n";
    s += common_options(job);
    s += "#\n# Task I of " + std::to_string(n) +
         " renders part I of the frame list (the parts are in README.txt).\n"
         "# Frames already written are left alone, so a requeued or resubmitted task\n"
         "# goes on where it stopped. exec: the signals Slurm sends reach trellis.\n";
    s += "exec " + command_line(job.trellis, "render", args) + " --jobs \"${SLURM_CPUS_PER_TASK:-" +
         std::to_string(job.cpus_per_task) + "}\"\n";
    return s;
}

std::string assemble_script(const SlurmJob& job) {
    std::string s = "#!/bin/bash\n";
    s += "#SBATCH --job-name=" + job.name + "-assemble\n";
    s += "#SBATCH --output=" + job.folder + "/logs/assemble-%j.log\n";
    // Cancelled rather than left pending forever when a render task fails.
    s += "#SBATCH --kill-on-invalid-dep=yes\n";
    s += common_options(job);
    s += "#\n# Runs after every render task succeeded; checks every frame on disk itself\n"
         "# rather than trusting the tasks' states, then encodes the movie.\n";
    s += "set -e\n";
    s += command_line(job.trellis, "verify", job.assembly->verify_args) + "\n";
    s += "exec " + command_line(job.trellis, "encode", job.assembly->encode_args) + "\n";
    return s;
}

std::string submit_script(const SlurmJob& job) {
    const std::size_t n = job.chunk_frames.size();
    std::string s = "#!/bin/sh\n";
    s += "# Submits the render, " + std::to_string(n) + " array tasks";
    s += job.assembly ? ", and the assembly that waits for each of them.\n" : ".\n";
    s += "# Running it again after a failure renders only the frames still missing.\n";
    s += "set -eu\n";
    s += "cd " + shell_quote(job.folder) + "\n";
    // --parsable prints "ID" or "ID;CLUSTER".
    s += "render=$(sbatch --parsable " + shell_quote(job.folder + "/" + kRenderScript) + ")\n";
    s += "render=${render%%;*}\n";
    s += "echo \"$render\" > render.jobid\n";
    s += "echo \"render job $render (" + std::to_string(n) + " tasks)\"\n";
    if (job.assembly) {
        // One entry per task: "afterok:ID" for the whole array stays unmet
        // once any task failed, even after a requeued run succeeds.
        s += "deps=afterok\n";
        s += "i=1\n";
        s += "while [ \"$i\" -le " + std::to_string(n) + " ]; do deps=\"$deps:${render}_$i\"; i=$((i + 1)); done\n";
        s += "assemble=$(sbatch --parsable --dependency=\"$deps\" " +
             shell_quote(job.folder + "/" + kAssembleScript) + ")\n";
        s += "assemble=${assemble%%;*}\n";
        s += "echo \"$assemble\" > assemble.jobid\n";
        s += "echo \"assemble job $assemble\"\n";
    }
    return s;
}

std::string summary(const SlurmJob& job) {
    const std::size_t n = job.chunk_frames.size();
    std::string s = "Slurm job folder: " + job.name + "\n\n";
    s += "Renders " + job.output + ", frames " + job.frames + ", in " + std::to_string(n) + " array tasks of " +
         std::to_string(job.cpus_per_task) + " CPU(s) each.\n";
    if (job.assembly) {
        s += "The tasks write image frames into frames/; the assembly job then checks that\n"
             "every frame is there and encodes the movie.\n";
    }
    s += "\nSubmit:   sh " + job.folder + "/" + kSubmitScript + "\n";
    s += "Watch:    squeue --me; logs in " + job.folder + "/logs/ (one per task: render-JOB_TASK.log)\n";
    s += "Resume:   run the submit script again; every task skips the frames already written.\n";
    s += "Requeue:  scontrol requeue JOB_TASK (the task stops cleanly on SIGTERM and resumes).\n";
    s += "Exit codes: 0 done; 1 effect error; 2 bad flags or unreadable input; 3 output not\n"
         "writable; 75 transient (disk full, I/O error: worth a retry, RequeueExit=75);\n"
         "128+N ended by signal N.\n";
    s += "\nTask  frames\n";
    for (std::size_t i = 0; i < n; ++i) {
        s += std::to_string(i + 1) + "  " + (job.chunk_frames[i].empty() ? "(none)" : job.chunk_frames[i]) + "\n";
    }
    return s;
}

void write_file(const fs::path& path, const std::string& text, bool executable) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
    if (executable) chmod(path.c_str(), 0755);
}

}  // namespace

std::string shell_quote(const std::string& word) {
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                                "@%+=:,./-_") == std::string::npos) {
        return word;
    }
    std::string q = "'";
    for (const char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void write_slurm_job(const SlurmJob& job) {
    const fs::path folder(job.folder);
    std::error_code ec;
    fs::create_directories(folder / "logs", ec);
    if (ec) throw std::runtime_error("cannot create " + (folder / "logs").string() + ": " + ec.message());
    write_file(folder / kRenderScript, render_script(job), true);
    if (job.assembly) write_file(folder / kAssembleScript, assemble_script(job), true);
    write_file(folder / kSubmitScript, submit_script(job), true);
    write_file(folder / kSummary, summary(job), false);
}

}  // namespace farm
