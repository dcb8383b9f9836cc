// Starts a real jogar-web, judging with the real memoria, for one test file.
import { spawn } from "node:child_process";
import { once } from "node:events";
import { createInterface } from "node:readline";

export const program = process.env.JOGAR_WEB;
export const memoria = process.env.MEMORIA;

export async function startServer(args = []) {
  if (!program) throw new Error("JOGAR_WEB names the jogar-web to test");
  const child = spawn(program, ["--port", "0", ...args], { stdio: ["ignore", "pipe", "inherit"] });
  const [line] = await once(createInterface({ input: child.stdout }), "line");
  const exited = once(child, "exit");
  return {
    url: line.trim(),
    async stop() {
      child.kill("SIGTERM");
      const [code] = await exited;
      return code;
    },
  };
}

// One API call: the status and the parsed body.
export async function call(base, path, body, method = body === undefined ? "GET" : "POST", headers = {}) {
  const response = await fetch(new URL(path, base), {
    method,
    headers: { "Content-Type": "application/json", ...headers },
    body: typeof body === "string" || body === undefined ? body : JSON.stringify(body),
  });
  return { status: response.status, body: await response.json() };
}
