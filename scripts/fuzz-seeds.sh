#!/usr/bin/env bash
# Captures the simulator's real answers as seeds of the fuzz targets:
# mvmigrate (the plug-in as it runs) talks to gwsim through a recording
# proxy, for the demo mailbox and for generated mailboxes with answers in
# pieces and other shapes; each conversation is cut into the answers of one
# target's input (control byte, answers joined by the separator of
# fuzz/fuzz_support.cpp) and written into fuzz/corpus/<target>/. The host
# readers' seeds are the files an export of the demo mailbox writes.
# Usage: scripts/fuzz-seeds.sh [BUILD_DIR]   (default: build; needs gwsim and mvmigrate)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
exec python3 - "$root" "$build" <<'EOF'
import hashlib, http.server, os, re, shutil, subprocess, sys, tempfile, threading, urllib.request

root, build = sys.argv[1], sys.argv[2]
bindir = os.path.join(build, "bin")
corpus = os.path.join(root, "fuzz", "corpus")
SEP = b"\n====\n"
PER_TARGET = 30          # seeds kept per target at most
MAX_SEED = 64 * 1024     # bytes of one seed at most
TARGET_BYTES = 160 * 1024  # bytes of one target's seeds at most

def item_kind(answer):
    m = re.search(rb'<gwm:item[^>]*xsi:type="gwt:(\w+)"', answer)
    return m.group(1).decode() if m else ""

class Recorder:
    """A proxy in front of gwsim that keeps every (request name, answer)."""
    def __init__(self, upstream):
        self.upstream, self.log = upstream, []
        rec = self
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                req = urllib.request.Request(rec.upstream + self.path, data=body, method="POST")
                for k in ("Content-Type", "SOAPAction"):
                    if self.headers.get(k): req.add_header(k, self.headers[k])
                try:
                    with urllib.request.urlopen(req) as r: status, answer = r.status, r.read()
                except urllib.error.HTTPError as e:
                    status, answer = e.code, e.read()
                name = (self.headers.get("SOAPAction") or "").strip('"')
                rec.log.append((name, body, status, answer))
                self.send_response(status)
                self.send_header("Content-Type", "text/xml; charset=utf-8")
                self.send_header("Content-Length", str(len(answer)))
                self.end_headers()
                self.wfile.write(answer)
            def log_message(self, *a): pass
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]

def start_gwsim(args):
    p = subprocess.Popen([os.path.join(bindir, "gwsim"), "--port", "0"] + args,
                         stdout=subprocess.PIPE, text=True)
    url = p.stdout.readline().strip()
    return p, url

def run_mvmigrate(args, work, user, password):
    env = dict(os.environ, MVMIGRATE_PASSWORD=password)
    subprocess.run([os.path.join(bindir, "mvmigrate"), "-q", "--out", work] + args + ["--user", user],
                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)

seeds = {}
def add(target, control, answers):
    data = bytes([control]) + SEP.join(answers)
    if len(data) > MAX_SEED: return
    seeds.setdefault(target, {})[hashlib.sha1(data).hexdigest()[:16]] = data

def requested_id(body):
    m = re.search(rb"<id>([^<]*)</id>", body)
    return m.group(1) if m else b""

def cut(log):
    """Cuts one conversation into the targets' inputs."""
    if os.environ.get("FUZZ_SEEDS_DEBUG"):
        for name, body, status, answer in log:
            print(name, status, requested_id(body), len(answer), file=sys.stderr)
    # The logon: the login and the lists with their counting requests.
    logon = []
    for name, body, status, answer in log:
        if name in ("getItemRequest", "getRuleListRequest", "createItemRequest", "logoutRequest") and logon: break
        logon.append(answer)
    if log and log[0][0] == "loginRequest":
        add("fuzz_folder_list", 0x07, logon)
        add("fuzz_folder_list", 0x0c, logon)
    targets = {"Mail": "fuzz_mail_item", "PhoneMessage": "fuzz_mail_item", "Appointment": "fuzz_appointment",
               "Note": "fuzz_appointment", "Task": "fuzz_task", "Contact": "fuzz_contact",
               "Group": "fuzz_contact", "Organization": "fuzz_contact", "Resource": "fuzz_contact"}
    for i, (name, body, status, answer) in enumerate(log):
        if name == "getItemRequest":
            # Its downloads and embedded items: the requests for ids its answer names.
            follow = []
            for n, b, s, a in log[i + 1:]:
                if n not in ("getAttachmentRequest", "getItemRequest") or requested_id(b) not in answer: break
                follow.append(a)
            target = targets.get(item_kind(answer))
            if target:
                add(target, 0x07, [answer] + follow)
                add(target, 0x03 | (len(follow) % 4) << 3, [answer] + follow)
        elif name == "getRuleListRequest":
            add("fuzz_rules", 0x07, [answer])
        elif name == "createItemRequest":
            earlier = [a for n, b, s, a in log[max(0, i - 2):i] if n == "createItemRequest"]
            for control in (0x07, 0x0f, 0x17, 0x1f, 0x27):
                add("fuzz_create_response", control, earlier + [answer])
        elif name in ("readCursorRequest", "getFolderListRequest"):
            add("fuzz_response", 0x05, [answer])
        if name == "createCursorRequest":
            # The listing: the cursor, its blocks, the destroy.
            listing = [answer]
            for n, b, s, a in log[i + 1:]:
                if n not in ("readCursorRequest", "destroyCursorRequest"): break
                listing.append(a)
                if n == "destroyCursorRequest": break
            add("fuzz_cursor", 0x07, listing)
            add("fuzz_cursor", 0x1f, listing)

def capture(gwsim_args, commands):
    p, url = start_gwsim(gwsim_args)
    try:
        rec = Recorder(url)
        work = tempfile.mkdtemp(prefix="mvgws-seeds-")
        try:
            for args, user, password in commands:
                args = [a.replace("SERVER", rec.url) for a in args]
                run_mvmigrate(args, work, user, password)
                cut(rec.log)
                rec.log.clear()
            return work
        finally:
            rec.server.shutdown()
    finally:
        p.terminate(); p.wait()

export = (["export", "--server", "SERVER", "--switch", "/MAILRULES"], "alice", "secret")
folders = (["folders", "--server", "SERVER"], "alice", "secret")
shapes = [
    [],
    ["--generate-items", "3", "--attachments-per-item", "2", "--attachment-size", "3000", "--piece-cap", "1000"],
    ["--generate-appointments", "6", "--generate-tasks", "3", "--generate-contacts", "3"],
    ["--generate-items", "2", "--attachments-per-item", "1", "--attachment-size", "500", "--shown-size-cut", "-1",
     "--body-id-end-tag", "--body-id-first", "--base64-line-length", "76"],
]
host_files = None
for shape in shapes:
    work = capture(shape, [folders, export])
    if host_files is None: host_files = work
    else: shutil.rmtree(work, ignore_errors=True)

# The import of the demo export writes into bob's mailbox: the create answers.
p, url = start_gwsim([])
try:
    rec = Recorder(url)
    out = tempfile.mkdtemp(prefix="mvgws-seeds-")
    run_mvmigrate(["import", "--in", host_files, "--server", rec.url], out, "bob", "hunter2")
    shutil.rmtree(out, ignore_errors=True)
    cut(rec.log)
    rec.server.shutdown()
finally:
    p.terminate(); p.wait()

# The host readers: the files of the demo export and the test data.
def add_files(target, top, suffixes, control=0x00):
    for dirpath, _, files in os.walk(top):
        for f in sorted(files):
            if suffixes and not any(f.endswith(s) or s in f for s in suffixes): continue
            with open(os.path.join(dirpath, f), "rb") as fh: data = fh.read()
            add(target, control, [data])
add_files("fuzz_maildir_message", os.path.join(host_files, "mail"), [], 0x08)
add_files("fuzz_maildir_message", os.path.join(root, "tests", "data", "maildir"), [".eml"])
add_files("fuzz_ical", os.path.join(host_files, "calendars"), [".ics"])
add_files("fuzz_ical", os.path.join(host_files, "tasks"), [".ics"], 0x08)
add_files("fuzz_ical", os.path.join(root, "tests", "data", "ical"), [".ics"])
add_files("fuzz_vcard", os.path.join(host_files, "contacts"), [".vcf"])
add_files("fuzz_vcard", os.path.join(root, "tests", "data", "vcard"), [".vcf"])
shutil.rmtree(host_files, ignore_errors=True)

for target, found in sorted(seeds.items()):
    d = os.path.join(corpus, target)
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    # Inputs with downloads and other follow-up answers first, then the smallest.
    ranked = sorted(found.items(), key=lambda kv: (-kv[1].count(SEP), len(kv[1])))
    kept, total = [], 0
    for name, data in ranked:
        if len(kept) == PER_TARGET or total + len(data) > TARGET_BYTES: continue
        kept.append((name, data)); total += len(data)
    for name, data in kept:
        with open(os.path.join(d, name), "wb") as fh: fh.write(data)
    print("%-22s %3d seeds" % (target, len(kept)))
EOF
