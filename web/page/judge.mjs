// memoria.wasm run in the page as a front end runs memoria: the request in a
// connector file (here in memory), a fresh instance for every move, so that
// nothing is carried from one to the next, as with a new process; then the
// exit status, the console and the reply record read back and checked.
//
// The host gives the program only what it asks for: its folder, ".", holding
// conector.txt, and its three standard streams. These are the WASI calls that
// memoria makes, and no others.

const CONNECTOR = "conector.txt";
const FOLDER_FD = 3;
// WASI's error numbers, as few as the judge can meet.
const E = { BADF: 8, INVAL: 28, ISDIR: 31, NOENT: 44, NOTDIR: 54, SPIPE: 70 };
const O_CREAT = 1;
const O_DIRECTORY = 2;
const O_TRUNC = 8;
const RIGHT_WRITE = 1n << 6n;
// A reply is one short line and a digit: anything much longer is refused.
const OUTPUT_CAP = 4096;

class Exited {
  constructor(status) {
    this.status = status;
  }
}

const joined = (chunks) => {
  const all = new Uint8Array(chunks.reduce((n, c) => n + c.length, 0));
  let at = 0;
  for (const chunk of chunks) {
    all.set(chunk, at);
    at += chunk.length;
  }
  return all;
};

// One run of the program over a folder of files (name -> bytes), which it
// may change. Returns its exit status and what it wrote to stdout and stderr.
export function runProgram(module, files) {
  let memory = null;
  const view = () => new DataView(memory.buffer);
  const bytes = () => new Uint8Array(memory.buffer);
  const open = new Map(); // fd -> { name, at, writes }
  let nextFd = FOLDER_FD + 1;
  const console = { 1: [], 2: [] };
  let written = 0;

  const buffers = (iovs, count) => Array.from({ length: count }, (_, i) =>
    [view().getUint32(iovs + 8 * i, true), view().getUint32(iovs + 8 * i + 4, true)]);
  const write = (fd, chunk) => {
    if (fd === 1 || fd === 2) {
      written += chunk.length;
      if (written > OUTPUT_CAP) throw new Error("memoria wrote more than a reply and was stopped");
      console[fd].push(chunk.slice());
      return 0;
    }
    const file = open.get(fd);
    if (!file?.writes) return E.BADF;
    const old = files.get(file.name);
    const grown = new Uint8Array(Math.max(old.length, file.at + chunk.length));
    grown.set(old);
    grown.set(chunk, file.at);
    files.set(file.name, grown);
    file.at += chunk.length;
    return 0;
  };

  const wasi = {
    fd_prestat_get(fd, out) {
      if (fd !== FOLDER_FD) return E.BADF;
      view().setUint8(out, 0); // a folder
      view().setUint32(out + 4, 1, true); // its name, ".", is one byte
      return 0;
    },
    fd_prestat_dir_name(fd, path, length) {
      if (fd !== FOLDER_FD || length < 1) return E.BADF;
      bytes()[path] = 0x2e;
      return 0;
    },
    fd_fdstat_get(fd, out) {
      const type = fd <= 2 ? 2 : fd === FOLDER_FD ? 3 : open.has(fd) ? 4 : -1; // character device, folder, file
      if (type < 0) return E.BADF;
      view().setUint8(out, type);
      view().setUint16(out + 2, 0, true);
      view().setBigUint64(out + 8, 0xffffffffffffffffn, true);
      view().setBigUint64(out + 16, 0xffffffffffffffffn, true);
      return 0;
    },
    fd_fdstat_set_flags: (fd) => (fd <= 2 || open.has(fd) ? 0 : E.BADF),
    path_open(folder, lookup, path, length, flags, rights, inherited, fdFlags, out) {
      if (folder !== FOLDER_FD) return E.BADF;
      const name = new TextDecoder().decode(bytes().slice(path, path + length));
      if (name === "." || name === "") return flags & O_DIRECTORY ? E.INVAL : E.ISDIR;
      if (flags & O_DIRECTORY) return E.NOTDIR;
      if (!files.has(name)) {
        if (!(flags & O_CREAT)) return E.NOENT;
        files.set(name, new Uint8Array(0));
      }
      if (flags & O_TRUNC) files.set(name, new Uint8Array(0));
      const fd = nextFd++;
      open.set(fd, { name, at: 0, writes: (BigInt(rights) & RIGHT_WRITE) !== 0n });
      view().setUint32(out, fd, true);
      return 0;
    },
    fd_read(fd, iovs, count, out) {
      let total = 0;
      if (fd !== 0) {
        const file = open.get(fd);
        if (!file) return E.BADF;
        const data = files.get(file.name);
        for (const [at, length] of buffers(iovs, count)) {
          const part = data.subarray(file.at, file.at + length);
          bytes().set(part, at);
          file.at += part.length;
          total += part.length;
        }
      }
      view().setUint32(out, total, true);
      return 0;
    },
    fd_write(fd, iovs, count, out) {
      let total = 0;
      for (const [at, length] of buffers(iovs, count)) {
        const error = write(fd, bytes().subarray(at, at + length));
        if (error) return error;
        total += length;
      }
      view().setUint32(out, total, true);
      return 0;
    },
    fd_seek(fd, offset, whence, out) {
      const file = open.get(fd);
      if (!file) return fd <= 2 ? E.SPIPE : E.BADF;
      const base = [0, file.at, files.get(file.name).length][whence];
      const to = base === undefined ? -1 : base + Number(offset);
      if (to < 0) return E.INVAL;
      file.at = to;
      view().setBigUint64(out, BigInt(to), true);
      return 0;
    },
    fd_close: (fd) => (open.delete(fd) ? 0 : E.BADF),
    proc_exit(status) {
      throw new Exited(status);
    },
  };

  const instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: wasi });
  memory = instance.exports.memory;
  let status = 0;
  try {
    instance.exports._start();
  } catch (error) {
    if (!(error instanceof Exited)) throw error;
    status = error.status;
  }
  return { status, stdout: joined(console[1]), stderr: joined(console[2]) };
}

const latin = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));
const decoder = new TextDecoder("windows-1252");

// The reply record that echoes the move, with its verdict; -1 for any other.
export function verdictOfReply(reply, first, second) {
  const move = `${first} ${second} \r\n`;
  for (const verdict of [0, 1]) {
    if (decoder.decode(reply) === `${move}${move}${verdict} \r\n${verdict} \r\n0`) return verdict;
  }
  return -1;
}

// Judges the move of two board positions. Returns the verdict (1 a pair, 0
// not) and the judge's message as text; throws with the reason otherwise.
export function judgeMove(module, first, second) {
  const files = new Map([[CONNECTOR, latin(`${first} ${second}\r\n`)]]);
  const run = runProgram(module, files);
  if (run.status !== 0) {
    const said = decoder.decode(run.stderr).split(/\r?\n/)[0];
    throw new Error(`memoria failed with exit status ${run.status}${said ? `: ${said}` : ""}`);
  }
  const verdict = verdictOfReply(files.get(CONNECTOR), first, second);
  const out = decoder.decode(run.stdout);
  const end = out.indexOf("\r\n");
  if (verdict < 0 || end < 0 || out.slice(end + 2) !== String(verdict))
    throw new Error(`memoria gave a malformed reply to the move ${first} ${second}`);
  return { verdict, message: out.slice(0, end) };
}
