// Runs memoria.wasm as a program: its arguments after the file's name, the
// working folder as its own ("."), the standard streams as they are, and its
// exit status as this one's. Node's WASI is experimental: run with
// --no-warnings, so that its notice stays off stderr.
import { readFile } from "node:fs/promises";
import { WASI } from "node:wasi";

const [file, ...args] = process.argv.slice(2);
const wasi = new WASI({
  version: "preview1",
  args: ["memoria", ...args],
  env: {},
  preopens: { ".": process.cwd() },
  returnOnExit: true,
});
const module = await WebAssembly.compile(await readFile(file));
// wasiImport rather than getImportObject(), which Debian's Node 18 lacks.
const instance = await WebAssembly.instantiate(module, { wasi_snapshot_preview1: wasi.wasiImport });
process.exitCode = wasi.start(instance);
