// `vxdiag.exe serve` under Wine answers a scripted session over HTTP, as the
// page would drive it, against the simulated VCI (no browser needed here).
//   node wine_session.mjs <wine loader> <vxdiag.exe>
import assert from 'node:assert/strict';
import { Server } from './server.mjs';

const [loader, program] = process.argv.slice(2);
const server = await new Server([loader, program], { VXSIM_INSTANT: '1' }).started(180000);
try {
  const page = await server.request('GET', `/?token=${server.token}`, { Host: `127.0.0.1:${server.port}` });
  assert.equal(page.status, 200);
  assert.match(page.body, /<title>vxdiag<\/title>/);
  assert.match(page.body, /uPlot/, 'the plot library is bundled');
  const refused = await server.request('POST', '/api/claim', server.apiHeaders('', { 'X-Vxdiag-Token': 'x' }), '{}');
  assert.equal(refused.status, 403);

  const { session } = await server.api('/api/claim');
  const expected = {
    open: /device 1 opened/, 'connect:10400': /channel \d+ at 10400 baud/, 'init:0x33': /ECU at 0x33 confirmed/,
    faults: /2 stored trouble codes: P0133 P0300/, 'live-data': /supported PIDs: 01 03/, close: /released/,
  };
  for (const [step, fact] of Object.entries(expected)) {
    const record = await server.api('/api/step', { step }, session);
    assert.equal(record.verdict, 'ok', `${step}: ${JSON.stringify(record)}`);
    assert.match(record.facts.join(', '), fact);
  }
  const record = await server.api('/api/step', { step: 'faults' }, session);
  assert.equal(record.verdict, 'warn', 'after close the core simulates: nothing was sent');
  console.log(`vxdiag.exe serve under ${loader}: page, refusal and ${Object.keys(expected).length + 1} steps as expected`);
} finally {
  server.process.kill('SIGKILL');
}
