#!/usr/bin/python3
"""Plants known faults in the program, one at a time, and tells which of them
the tests catch.

Each fault is a small textual patch: one string, which must stand exactly once
in its file, replaced by another. The tree under test is copied into a work
folder of its own (the checkout is never touched), built there once with
ccache, and then, for each fault, patched, built again, tested with the ctest
selection that the fault names, and put back. A fault counts as caught when
that selection fails. A fault whose string is no longer in its file (the code
has changed since the fault was written) is reported as such and left out of
the score, and so is one that does not build. The tests' output for each
fault is kept in the work folder's logs/.

    scripts/plant-faults.py                    # the current checkout, as it stands on disk
    scripts/plant-faults.py --rev e6ae384      # the tree of a commit (tests, fuzz and program alike)
    scripts/plant-faults.py --only T1,G3       # some faults only
    scripts/plant-faults.py --list             # the faults and whether their strings are found

Selections: "unit" runs `ctest -L unit` (the core's tests, the network and
stand-in site tests, the layering and tool checks); "gui" runs the end-to-end
and desktop tests, `ctest -L e2e`. Core faults use the first,
faults in the GTK adapters the second. `--selection unit,gui` gives every
fault both. Before any fault is planted each selection in use must pass on the
unchanged tree, so that a failure can be laid at the fault's door.
"""
import argparse
import io
import os
import re
import subprocess
import sys
import tarfile
import time

# (id, file, what the fault does, anchor, replacement, selection)
FAULTS = [
    # --- src/text ---
    ("T1", "src/text/Text.cpp", "Find answers 0-based positions",
     "static_cast<int32_t>(at + 1);", "static_cast<int32_t>(at);", "unit"),
    ("T2", "src/text/Text.cpp", "searching from just past the end finds nothing, not the empty pattern",
     "if (from > text.size()) return std::u16string_view::npos;",
     "if (from >= text.size()) return std::u16string_view::npos;", "unit"),
    ("T3", "src/text/Text.cpp", "Slice takes one character too few",
     "text.substr(from, static_cast<size_t>(length))", "text.substr(from, static_cast<size_t>(length) - 1)", "unit"),
    ("T4", "src/text/Text.cpp", "Lower takes the sharp s for a capital",
     "c >= 0xC0 && c <= 0xDE && c != 0xD7", "c >= 0xC0 && c <= 0xDF && c != 0xD7", "unit"),
    ("T5", "src/text/CodePage.cpp", "the decode table leaves out the last of windows-1252's high characters",
     "for (unsigned i = 0; i < 32; ++i) table[0x80 + i]", "for (unsigned i = 0; i < 31; ++i) table[0x80 + i]", "unit"),
    ("T6", "src/text/CodePage.cpp", "the vector decoder leaves the last byte of a non-ASCII block undecoded",
     "for (size_t k = 0; k < 16; ++k) dst[i + k]", "for (size_t k = 0; k < 15; ++k) dst[i + k]", "unit"),
    ("T7", "src/text/CodePage.cpp", "a surrogate pair becomes two question marks",
     "IsLowSurrogate(text[i + 1])) ++i;", "IsLowSurrogate(text[i + 1])) {}", "unit"),
    ("T8", "src/text/CodePage.cpp", "a UTF-8 sequence cut off by the end of the text is read past the end",
     "if (i + need >= bytes.size())", "if (i + need > bytes.size())", "unit"),
    ("T9", "src/text/CodePage.cpp", "overlong UTF-8 forms are accepted",
     "if (!ok || cp < min || cp > 0x10FFFF", "if (!ok || cp > 0x10FFFF", "unit"),
    ("T10", "src/text/ScanKernels.inc", "the pattern scan misses a match at the last place",
     "if (size < len || from > size - len)", "if (size < len || from >= size - len)", "unit"),
    ("T11", "src/text/ScanKernels.inc", "the key scan's vector loop drops the fifth key",
     "for (size_t k = 4; k < keyCount; ++k)", "for (size_t k = 5; k < keyCount; ++k)", "unit"),
    ("T12", "src/text/ReplacePasses.cpp", "a removal before a later pass is taken for one-scan safe",
     "if (p.replacement.empty() && i + 1 != passes.size()) return false;",
     "if (p.replacement.empty() && i + 1 != passes.size() && false) return false;", "unit"),
    ("T13", "src/text/ReplacePasses.cpp", "the one-scan rewriting misses a match that ends the text",
     "if (start + find.size() > text_.size() ||", "if (start + find.size() >= text_.size() ||", "unit"),
    ("T14", "src/text/ReplacePasses.cpp", "the one-scan key keeps the wrong offset in its find text",
     "key = {find[i], i};", "key = {find[i], 0};", "unit"),
    # --- src/results ---
    ("R1", "src/results/ResultsPage.cpp", "a \"Pages (\" before the results table is taken for the navigation row",
     "Find(tableEnd, pageSource, kPagesMarker)", "Find(1, pageSource, kPagesMarker)", "unit"),
    ("R2", "src/results/ResultsPage.cpp", "the variants' ampersand handling is swapped",
     "variant == Variant::ResultsWindow ? 5 : 4", "variant == Variant::ResultsWindow ? 4 : 5", "unit"),
    ("R3", "src/results/ResultsPage.cpp", "the results table ends at a \"</table>\" before the marker",
     "Find(page.markStart, pageSource, kResultsEnd)", "Find(1, pageSource, kResultsEnd)", "unit"),
    ("R4", "src/results/ResultsPage.cpp", "directory links of the navigation row stay relative",
     'row = ReplaceAll(row, u"directory.asp?", Prefixed(siteBaseUrl, u"directory.asp?"));', "", "unit"),
    ("R5", "src/results/ResultsPage.cpp", "details links become category links instead of downloads",
     "{kDetails, download_},", "{kDetails, category_},", "unit"),
    # --- src/app ---
    ("A1", "src/app/MainForm.cpp", "script addresses are searched instead of run",
     "text::Slice(url, 1, 11)", "text::Slice(url, 1, 10)", "unit"),
    ("A2", "src/app/MainForm.cpp", "the pointer stays the hourglass after a failed fetch",
     "} else {\n    window_->SetMousePointer(kPointerDefault);\n  }", "} else {\n  }", "unit"),
    ("A3", "src/app/SearchForm.cpp", "the caption of a followed link starts one character early",
     'Find(1, url, u"query=") + 6;', 'Find(1, url, u"query=") + 5;', "unit"),
    ("A4", "src/app/SearchForm.cpp", "search links are recognised in lower case only",
     'Find(1, lower, u"search.asp") == 0', 'Find(1, url, u"search.asp") == 0', "unit"),
    ("A5", "src/app/SearchForm.cpp", "a results window is shown before it is titled",
     'window->Form().SetCaption(caption);\n  window->WB2().Navigate2(u"about:blank");\n  window->Form().Show();',
     'window->Form().Show();\n  window->Form().SetCaption(caption);\n  window->WB2().Navigate2(u"about:blank");', "unit"),
    ("A6", "src/app/SearchForm.cpp", "the written page is never closed, so never shown",
     "  if (view) view->Close();", "", "unit"),
    ("A7", "src/app/Downloads.cpp", "a numbered download name may pass 244 bytes",
     "std::min(kMaxFileNameBytes, suffix.size() + ext.size())", "std::min(kMaxFileNameBytes, ext.size())", "unit"),
    ("A8", "src/app/Downloads.cpp", "the control character 0x1F stays in a download name",
     "u < 0x20 || u == 0x7F", "u < 0x1F || u == 0x7F", "unit"),
    ("A9", "src/app/Downloads.cpp", "numbered names stop one short of the last number",
     "n <= kMaxNumberedNames", "n < kMaxNumberedNames", "unit"),
    ("A10", "src/app/Downloads.cpp", "an extension of 32 bytes is kept whole",
     "name.size() - dot > 32", "name.size() - dot > 33", "unit"),
    ("A11", "src/app/SearchForm.cpp", "the results view's height takes the width margin",
     "window_->Height() - kResultsHeightMargin", "window_->Height() - kResultsWidthMargin", "unit"),
    ("A12", "src/app/Downloads.cpp", "an empty download folder setting is used",
     "if (settingsDir && !settingsDir->empty()) return *settingsDir;", "if (settingsDir) return *settingsDir;",
     "unit"),
    ("A13", "src/app/SearchForm.cpp", "a followed link's page is written into its own window, not the new one",
     "WritePage(target ? &target->WB2() : nullptr,", "WritePage(view_.get(),", "unit"),
    # --- src/net ---
    ("N1", "src/net/UrlSplit.cpp", "the host's length limit is dropped",
     "if (host.size() > kMaxHostLength) return false;", "", "unit"),
    ("N2", "src/net/UrlSplit.cpp", "port 65536 is accepted",
     "value > 65535) return false;", "value > 65536) return false;", "unit"),
    ("N3", "src/net/UrlSplit.cpp", "\"host:\" with no port fails the split",
     "if (hasPort && !portText.empty()) {", "if (hasPort) {", "unit"),
    ("N4", "src/net/ModINET.cpp", "an announced body length reserves memory without a bound",
     "std::min<uint64_t>(static_cast<uint64_t>(announced), kMaxBodyBytes)", "static_cast<uint64_t>(announced)", "unit"),
    ("N5", "src/net/ModINET.cpp", "the Content-Type keeps the rest of its buffer",
     "return nul == std::u16string::npos ? text : text.substr(0, nul);", "return text;", "unit"),
    ("N6", "src/net/CurlFacility.cpp", "the body size limit is dropped",
     "std::min<uint64_t>(n, room)", "std::min<uint64_t>(n, room + n)", "unit"),
    ("N7", "src/net/CurlFacility.cpp", "the stall limit takes the connect limit's value",
     "lastActivity_ + timeouts_.stall", "lastActivity_ + timeouts_.connect", "unit"),
    ("N8", "src/net/CurlFacility.cpp", "closed handles are kept, with their connections (leaked descriptors)",
     "{ objects_.erase(handle); }", "{ (void)handle; }", "unit"),
    ("N9", "src/net/CurlFacility.cpp", "a cancellable transfer waits the long wait",
     "cancelled_ != nullptr ? kCancellableWaitMs : kLongestWaitMs", "cancelled_ != nullptr ? kLongestWaitMs : kCancellableWaitMs",
     "unit"),
    ("N10", "src/net/CurlFacility.cpp", "a redirect to ftp is followed",
     'set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");', 'set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");', "unit"),
    ("N11", "src/net/CurlFacility.cpp", "redirects are followed past 20",
     "kMaxRedirects = 20;", "kMaxRedirects = 30;", "unit"),
    ("N12", "src/net/CurlFacility.cpp", "HTTP_PROXY, which a server's CGI can set, counts as the proxy",
     'else if (EnvironmentSet("http_proxy"))', 'else if (EnvironmentSet("HTTP_PROXY"))', "unit"),
    ("N13", "src/net/CurlFacility.cpp", "blanks in an address are not escaped",
     "if (u <= 0x20 || u >= 0x7F", "if (u < 0x20 || u >= 0x7F", "unit"),
    ("N14", "src/net/CurlFacility.cpp", "the last Content-Type counts, not the first",
     "if (!self->contentType_) self->contentType_ =", "self->contentType_ =", "unit"),
    ("N15", "src/net/CurlFacility.cpp", "a redirect's Content-Type stays for the final response",
     "self->contentType_.reset();", "", "unit"),
    ("N16", "src/net/CurlFacility.cpp", "calls after a cancellation still succeed",
     "if (IsSet(cancelled_)) return nullptr;", "", "unit"),
    ("N17", "src/net/CurlFacility.cpp", "the connect limit is dropped",
     "set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));", "", "unit"),
    # --- src/gtk ---
    ("G1", "src/gtk/WebView.cpp", "a results page's script navigates without a user gesture",
     "if (!programs && !webkit_navigation_action_is_user_gesture(action) && !redirect)",
     "if (!programs && false && !redirect)", "gui"),
    ("G2", "src/gtk/WebView.cpp", "any redirect passes, not only that of the user's click",
     "webkit_navigation_action_is_redirect(action) && gestureLoad_;", "webkit_navigation_action_is_redirect(action);",
     "gui"),
    ("G3", "src/gtk/WebSession.cpp", "script dialogs are shown",
     "webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);\n    return TRUE;",
     "webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);\n    return FALSE;", "gui"),
    ("G4", "src/gtk/WebView.cpp", "a frame's response is downloaded",
     "if (webkit_response_policy_decision_is_main_frame_main_resource(response)) {", "if (true) {", "gui"),
    ("G5", "src/gtk/WebSession.cpp", "the download folder is not made when it is missing",
     "g_mkdir_with_parents(folder.c_str(), 0700);", "", "gui"),
    ("G6", "src/gtk/WebView.cpp", "a results page is not shown again after its web process died",
     "  if (written) {\n    LoadWritten();\n  } else {", "  if (written) {\n  } else {", "gui"),
    ("G7", "src/gtk/WebView.cpp", "a written page gets a file: base",
     '"text/html", "UTF-8", "about:blank");', '"text/html", "UTF-8", "file:///");', "gui"),
    ("G8", "src/gtk/WebView.cpp", "a magnet link is handed over without the user's click",
     "if (!gesture || !session_.SpendAction()) return;", "if (!session_.SpendAction()) return;", "gui"),
    ("G9", "src/gtk/Launcher.cpp", "every download is taken for a torrent",
     "return type && g_content_type_is_a(type.get(), kTorrentType);", "return type != nullptr;", "gui"),
    ("G10", "src/gtk/Window.cpp", "Escape does not give a fetch up",
     "if (keyval == GDK_KEY_Escape) {", "if (keyval == GDK_KEY_Tab) {", "gui"),
    ("G11", "src/gtk/Window.cpp", "the wait pointer is not shown on the window",
     'gtk_widget_set_cursor_from_name(window, "wait");', 'gtk_widget_set_cursor_from_name(window, "default");', "gui"),
    ("G12", "src/gtk/Window.cpp", "the window's pointer does not come back after a fetch",
     "gtk_widget_set_cursor(window, nullptr);", "", "gui"),
    ("G13", "src/gtk/Window.cpp", "a results window is shown only once its page has loaded",
     "if (event == WEBKIT_LOAD_STARTED) static_cast<WindowAdapter*>(self)->ShowPending();",
     "if (event == WEBKIT_LOAD_FINISHED) static_cast<WindowAdapter*>(self)->ShowPending();", "gui"),
    ("G14", "src/gtk/Window.cpp", "keys typed during a fetch are passed on",
     "return (state & GDK_CONTROL_MASK) ? FALSE : TRUE;", "return FALSE;", "gui"),
    ("G15", "src/gtk/Program.cpp", "closing the new results window does not give its fetch up",
     "|| form == fetchTarget_)) gate.Cancel();", ")) gate.Cancel();", "gui"),
    ("G16", "src/gtk/Program.cpp", "the program ends with one window still open",
     "self->OpenWindowCount() == 0 && self->onLastWindowClosed_", "self->OpenWindowCount() <= 1 && self->onLastWindowClosed_",
     "gui"),
    ("G17", "src/gtk/Program.cpp", "a closed results window is released under a wrong pointer, so never",
     "[this, self] { Release(*self); }", "[this, self] { Release(self.get()); }", "gui"),
    ("G18", "src/gtk/Program.cpp", "twips are rounded down to pixels",
     "twips / app::kTwipsPerPixel + 0.5f", "twips / app::kTwipsPerPixel - 0.5f", "gui"),
    ("G19", "src/gtk/Fetcher.cpp", "giving a fetch up does not reach the fetch",
     "if (running_ && cancelled_) cancelled_->store(true);", "if (running_ && cancelled_) cancelled_->store(false);",
     "gui"),
    ("G20", "src/gtk/SpareWindow.cpp", "the spare keeps the application running after the last window",
     "if (!gtk_application_get_windows(app)) static_cast<Program*>(data)->DropSpare();", "", "gui"),
    ("G21", "src/gtk/SpareWindow.cpp", "the next spare is made at once, holding up the page being written",
     "MakeSpareLater(kNextSpareDelayMs);", "MakeSpareLater(0);", "gui"),
    ("G22", "src/gtk/Window.cpp", "a spare destroyed with its layout pending is not hidden first",
     "gdk_surface_hide(gtk_native_get_surface(GTK_NATIVE(widget)));", "", "gui"),
    ("G23", "src/gtk/AppMenu.cpp", "Ctrl+W closes nothing",
     '{"General", "<Control>w",', '{"General", "<Control>e",', "gui"),
    ("G24", "src/gtk/main.cpp", "a second start does not bring back the main window",
     "    state->program->PresentMain();\n    return;", "    return;", "gui"),
]

SELECTIONS = {
    "unit": ["-L", "unit"],
    "gui": ["-L", "e2e"],
}


def log(message):
    print(message, flush=True)


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace", **kwargs)


def tracked_files(repo):
    """The files of the checkout as they stand: what git tracks and what it does not ignore."""
    out = subprocess.check_output(["git", "-C", repo, "ls-files", "-z", "--cached", "--others", "--exclude-standard"])
    return {name.decode(): None for name in out.split(b"\0") if name and os.path.isfile(os.path.join(repo, name.decode()))}


def sync_tree(source_files, tree):
    """Writes each file into `tree` unless it is there already with the same bytes, so that an unchanged
    file keeps its time stamp and is not rebuilt, and removes files that are no longer part of it."""
    os.makedirs(tree, exist_ok=True)
    for name, (data, mode) in source_files.items():
        path = os.path.join(tree, name)
        try:
            with open(path, "rb") as f:
                same = f.read() == data
        except FileNotFoundError:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            same = False
        if not same:
            with open(path, "wb") as f:
                f.write(data)
        os.chmod(path, mode & 0o777)
    wanted = set(source_files)
    for dirpath, dirnames, filenames in os.walk(tree):
        if dirpath == tree and "build" in dirnames:
            dirnames.remove("build")
        for filename in filenames:
            relative = os.path.relpath(os.path.join(dirpath, filename), tree)
            if relative not in wanted:
                os.remove(os.path.join(dirpath, filename))


def read_source(repo, rev):
    if rev is None:
        files = {}
        for name in tracked_files(repo):
            path = os.path.join(repo, name)
            with open(path, "rb") as f:
                files[name] = (f.read(), os.stat(path).st_mode)
        return files
    archive = subprocess.check_output(["git", "-C", repo, "archive", "--format=tar", rev])
    files = {}
    with tarfile.open(fileobj=io.BytesIO(archive)) as tar:
        for member in tar.getmembers():
            if member.isfile():
                files[member.name] = (tar.extractfile(member).read(), member.mode)
    return files


def configure(tree, build, port):
    result = run(["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                  "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache",
                  f"-DQUILLMERE_SITE_HOST=127.0.0.1:{port}", "-DQUILLMERE_BUILD_BENCH=OFF"])
    if result.returncode != 0:
        sys.exit("configuring the work tree failed:\n" + result.stdout[-3000:])


def build(build_dir, jobs):
    return run(["cmake", "--build", build_dir, "-j", str(jobs)])


def failed_tests(output):
    """The names of the failed ctest tests and of the GoogleTest cases and desktop test cases that failed in them."""
    names = re.findall(r"^\s*\d+ - (\S+) \(", output, re.M)
    cases = sorted(set(re.findall(r"^\[  FAILED  \] ([A-Za-z_][\w/.]*)", output, re.M)))
    cases += sorted(set(re.findall(r"^FAIL (\S+):", output, re.M)))  # the desktop test's cases
    # Each failed ctest test, followed by the cases inside it that failed when their names differ.
    return names + [c for c in cases if c not in names]


def run_selection(build_dir, selection, timeout):
    command = ["ctest", "--test-dir", build_dir, "--output-on-failure", "--timeout", str(timeout)]
    command += SELECTIONS[selection]
    started = time.monotonic()
    try:
        result = run(command, timeout=timeout * 4)
        output, status = result.stdout, result.returncode
    except subprocess.TimeoutExpired as e:
        output = e.stdout.decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        status = -1
    return status, output, time.monotonic() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rev", help="test the tree of this commit instead of the checkout as it stands")
    parser.add_argument("--work", default=f"/tmp/quillmere-faults-{os.getuid()}",
                        help="work folder; reusing it across runs lets ccache and ninja skip what is unchanged")
    parser.add_argument("--port", type=int, default=int(os.environ.get("QUILLMERE_FAULTS_PORT", "8652")),
                        help="site port that the work build is configured with (one no other run uses)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--only", help="comma-separated fault ids")
    parser.add_argument("--selection", help="comma-separated selections to run for every fault, instead of its own")
    parser.add_argument("--timeout", type=int, default=300, help="per test, in seconds")
    parser.add_argument("--list", action="store_true", help="list the faults and check their strings, plant nothing")
    parser.add_argument("--report", help="also write the result table to this file")
    parser.add_argument("--keep-going", action="store_true", help="plant faults even when a selection fails unchanged")
    args = parser.parse_args()

    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    source = read_source(repo, args.rev)
    faults = FAULTS
    if args.only:
        wanted = args.only.split(",")
        faults = [f for f in FAULTS if f[0] in wanted]

    def anchor_state(fault):
        _, path, _, anchor, _, _ = fault
        if path not in source:
            return "file not found"
        count = source[path][0].decode().count(anchor)
        return "ok" if count == 1 else ("anchor not found" if count == 0 else f"anchor found {count} times")

    if args.list:
        for fault in faults:
            log(f"{fault[0]:4} {fault[5]:5} {anchor_state(fault):22} {fault[1]}: {fault[2]}")
        return 0

    tree = os.path.join(args.work, "tree")
    build_dir = os.path.join(tree, "build")
    log(f"== Tree: {args.rev or repo + ' (as it stands)'}; work folder {tree}")
    sync_tree(source, tree)
    configure(tree, build_dir, args.port)
    result = build(build_dir, args.jobs)
    if result.returncode != 0:
        sys.exit("the unchanged tree does not build:\n" + result.stdout[-3000:])

    def selections_of(fault):
        return (args.selection or fault[5]).split(",")

    used = sorted({s for f in faults for s in selections_of(f)})
    for selection in used:
        status, output, took = run_selection(build_dir, selection, args.timeout)
        log(f"== Unchanged tree, selection {selection}: {'passes' if status == 0 else 'FAILS'} ({took:.0f} s)")
        if status != 0:
            log("   failing: " + " ".join(failed_tests(output)))
            if not args.keep_going:
                return 2

    # The tests' output for each fault, to look into a verdict afterwards.
    logs = os.path.join(args.work, "logs")
    os.makedirs(logs, exist_ok=True)
    rows = []
    for fault in faults:
        fault_id, path, what, anchor, replacement, _ = fault
        state = anchor_state(fault)
        if state != "ok":
            rows.append((fault_id, state.upper(), "", what))
            log(f"{fault_id:4} {state.upper()}: {path}")
            continue
        full = os.path.join(tree, path)
        with open(full, "rb") as f:
            original = f.read()
        try:
            with open(full, "wb") as f:
                f.write(original.decode().replace(anchor, replacement).encode())
            result = build(build_dir, args.jobs)
            if result.returncode != 0:
                rows.append((fault_id, "BUILD FAILED", "", what))
                log(f"{fault_id:4} BUILD FAILED\n{result.stdout[-2000:]}")
                continue
            caught_by = []
            took_all = 0.0
            for selection in selections_of(fault):
                status, output, took = run_selection(build_dir, selection, args.timeout)
                took_all += took
                with open(os.path.join(logs, f"{fault_id}-{selection}.log"), "w") as f:
                    f.write(output)
                if status != 0:
                    caught_by += failed_tests(output) or [f"{selection} (status {status})"]
            verdict = "caught" if caught_by else "MISSED"
            rows.append((fault_id, verdict, " ".join(caught_by), what))
            log(f"{fault_id:4} {verdict:7} {took_all:5.0f} s  {what}" + (f"\n       by {' '.join(caught_by)}" if caught_by else ""))
        finally:
            with open(full, "wb") as f:
                f.write(original)

    planted = [r for r in rows if r[1] in ("caught", "MISSED")]
    caught = [r for r in planted if r[1] == "caught"]
    summary = f"Score: {len(caught)} of {len(planted)} planted faults caught"
    left_out = len(rows) - len(planted)
    if left_out:
        summary += f"; {left_out} not planted (anchor gone or no build)"
    log("== " + summary)
    if args.report:
        with open(args.report, "w") as f:
            f.write(f"# plant-faults.py on {args.rev or 'the checkout'}\n")
            for fault_id, verdict, by, what in rows:
                f.write(f"{fault_id}\t{verdict}\t{what}\t{by}\n")
            f.write(summary + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
