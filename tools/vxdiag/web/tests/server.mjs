// Starts `vxdiag serve` as a process and talks to it as the page does.
import { spawn } from 'node:child_process';
import http from 'node:http';

export class Server {
  // command: [program, ...arguments before "serve"]; environment added to
  // ours; options: serve's own.
  constructor(command, environment = {}, options = []) {
    this.output = '';
    this.errors = '';
    this.process = spawn(command[0], [...command.slice(1), 'serve', ...options], {
      env: { ...process.env, ...environment }, stdio: ['ignore', 'pipe', 'pipe'],
    });
    this.process.stdout.on('data', (chunk) => { this.output += chunk; });
    this.process.stderr.on('data', (chunk) => { this.errors += chunk; });
    this.exited = new Promise((resolve) => this.process.on('exit', (code, signal) => resolve(code ?? signal)));
  }

  async started(timeoutMs = 60000) {
    const [, url, port, token] = await this.waitFor(/open (http:\/\/127\.0\.0\.1:(\d+)\/\?token=([0-9a-f]{32}))/, timeoutMs);
    Object.assign(this, { url, port: Number(port), token });
    return this;
  }

  // Waits until stdout matches; answers the match.
  async waitFor(pattern, timeoutMs = 30000) {
    const deadline = Date.now() + timeoutMs;
    while (!pattern.test(this.output)) {
      if (Date.now() > deadline) throw new Error(`no ${pattern} in vxdiag's output:\n${this.output}\n${this.errors}`);
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
    return this.output.match(pattern);
  }

  // One HTTP request with the headers given (none added): {status, body}.
  request(method, path, headers = {}, body = '') {
    return new Promise((resolve, reject) => {
      const request = http.request({ host: '127.0.0.1', port: this.port, method, path, headers, setHost: false }, (response) => {
        let text = '';
        response.on('data', (chunk) => { text += chunk; });
        response.on('end', () => resolve({ status: response.statusCode, body: text }));
      });
      request.on('error', reject).end(body);
    });
  }

  // The page's own headers for an API call.
  apiHeaders(session = '', extra = {}) {
    return { Host: `127.0.0.1:${this.port}`, Origin: `http://127.0.0.1:${this.port}`, 'Content-Type': 'application/json',
             'X-Vxdiag-Token': this.token, 'X-Vxdiag-Session': session, ...extra };
  }

  async api(path, body = {}, session = '') {
    const answer = await this.request('POST', path, this.apiHeaders(session), JSON.stringify(body));
    return { status: answer.status, ...JSON.parse(answer.body) };
  }
}
