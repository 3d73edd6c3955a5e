// The page of `vxdiag serve` in Debian's chromium, driven headless through
// playwright-core, against the simulated VCI: a whole session clicked
// through, the door's refusals, and a function that runs to its stop frame
// when the tab is closed and the server interrupted. Screenshots of each
// panel go to the output folder.
//   node browser_session.mjs <vxdiag> <output folder> <rows file>
import { chromium } from 'playwright-core';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, rmSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { Server } from './server.mjs';

const [vxdiag, outputDir, rowsFile] = process.argv.slice(2);
mkdirSync(outputDir, { recursive: true });
const shot = (name) => path.join(outputDir, `${name}.png`);
let passed = 0;
async function check(what, body) {
  await body();
  passed += 1;
  console.log(`ok   ${what}`);
}

// A new empty profile each run; Debian's browser, never a downloaded one.
const profile = path.join(outputDir, 'profile');
rmSync(profile, { recursive: true, force: true });
const context = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium', viewport: { width: 1400, height: 1000 }, acceptDownloads: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});

async function openPage(server) {
  const page = await context.newPage();
  await page.goto(server.url);
  await page.locator('#log-pane').waitFor({ state: 'attached' });
  return page;
}

async function clickAndSee(page, button, target, text, timeout = 15000) {
  await page.click(button);
  await page.locator(target).getByText(text).first().waitFor({ timeout });
}

// Check VCI lists the bundled simulated VCI; Open answers `opened`.
async function openDevice(page, opened) {
  await clickAndSee(page, '#check-vci', '#vci-list', 'Simulated VCI');
  await clickAndSee(page, '#open', '#vci-result', opened);
}

// With the device open and connected: the KWP71 ECU at 0x10 initialised and
// the rows file loaded, where a function can run.
async function prepareFunction(page) {
  await page.fill('#address', '0x10');
  await clickAndSee(page, '#init', '#link-result', 'ECU at 0x10 confirmed');
  await page.setInputFiles('#rows-file', rowsFile);
  await page.locator('#rows-table tbody tr').nth(3).waitFor();
}

const server = await new Server([vxdiag]).started();

await check('the door refuses a missing token, a wrong token, a foreign Origin and Host', async () => {
  const open = JSON.stringify({ step: 'open' });
  const refused = [
    ['GET', '/', { Host: `127.0.0.1:${server.port}` }],
    ['GET', '/?token=0123456789abcdef0123456789abcdef', { Host: `127.0.0.1:${server.port}` }],
    ['GET', `/?token=${server.token}`, { Host: `evil.example:${server.port}` }],
    ['POST', '/api/claim', server.apiHeaders('', { 'X-Vxdiag-Token': 'wrong' })],
    ['POST', '/api/step', server.apiHeaders('', { Origin: 'http://evil.example' })],
    ['POST', '/api/claim', server.apiHeaders('', { Host: `rebound.example:${server.port}` })],
  ];
  for (const [method, target, headers] of refused) {
    const answer = await server.request(method, target, headers, method === 'POST' ? open : '');
    assert.equal(answer.status, 403, `${method} ${target} ${JSON.stringify(headers)}: ${answer.body}`);
  }
  assert.doesNotMatch(server.output, /VX_OpenJ2534Dll/);
});

await check('the server listens on 127.0.0.1 only', async () => {
  const sockets = execFileSync('ss', ['-ltnH', `sport = :${server.port}`], { encoding: 'utf8' }).trim().split('\n');
  assert.deepEqual(sockets.map((line) => line.split(/\s+/)[3]), [`127.0.0.1:${server.port}`]);
  for (const address of Object.values(os.networkInterfaces()).flat()) {
    if (address.internal || address.family !== 'IPv4') continue;
    await assert.rejects(fetch(`http://${address.address}:${server.port}/`), `reachable on ${address.address}`);
  }
});

const page = await openPage(server);
await check('the refused requests reached nothing, the raw log is empty; a second tab sees the device in use', async () => {
  await page.waitForTimeout(300);
  assert.equal(await page.textContent('#log-pane'), '');
  const second = await openPage(server);
  await second.locator('#banner-text').getByText('in use').waitFor();
  assert.equal(await second.textContent('#state'), 'device in use');
  await second.screenshot({ path: shot('second-tab') });
  await second.close();
});

await check('Check VCI lists the bundled simulated VCI, it opens, connects and initialises 0x33', async () => {
  await openDevice(page, 'device 1 opened');
  assert.equal(await page.textContent('#state'), 'device open');
  await page.locator('#vci').screenshot({ path: shot('panel-vci') });
  // Connect and initialise 0x33, with progress while the 5-baud wake-up runs.
  await clickAndSee(page, '#connect', '#link-result', 'channel 2 at 10400 baud');
  await page.fill('#address', '0x33');
  await page.click('#init');
  await page.locator('#progress-text').getByText(/waking the ECU: [1-9]\.\d s of about 2 s/).waitFor();
  await page.locator('#link').screenshot({ path: shot('panel-link-initialising') });
  await page.locator('#link-result').getByText('ECU at 0x33 confirmed').waitFor({ timeout: 10000 });
  await clickAndSee(page, '#battery', '#battery-value', '12.6 V');
  await page.locator('#link').screenshot({ path: shot('panel-link') });
});

await check('the fault results window shows P0133 and P0300; live data: supported PIDs, values plotted', async () => {
  await clickAndSee(page, '#read-faults', '#fault-codes li', 'P0300');
  assert.deepEqual(await page.locator('#fault-codes li').allTextContents(), ['P0133', 'P0300']);
  await page.locator('#faults').screenshot({ path: shot('panel-faults') });
  await clickAndSee(page, '#live-start', '#live-values', '3 samples', 20000);
  await page.click('#live-stop');
  assert.match(await page.textContent('#pids'), /supported PIDs: 01 03 04 05/);
  assert.equal(await page.locator('#plot canvas').count(), 1);
  await page.locator('#live').screenshot({ path: shot('panel-live') });
});

await check('init 0x10, rows: a function asks first, Cancel sends nothing, Send runs start to stop frame', async () => {
  await prepareFunction(page);
  assert.match(await page.textContent('#rows-table'), /04 NN 04 02 03/, 'each row shows the frames it sends');
  const steps = await page.locator('#steps li').count();
  const row = page.locator('#rows-table tbody tr').first();
  await row.locator('button').click();
  assert.equal(await page.textContent('#confirm-frames'), 'start  04 01 04 01 03\nstop   04 03 04 00 03  after 300 ms');
  await page.click('#confirm-cancel');
  await page.waitForTimeout(200);
  assert.ok(await page.locator('#busy').isHidden(), 'Cancel starts no step');
  assert.equal(await page.locator('#steps li').count(), steps);
  await row.locator('button').click();
  await page.screenshot({ path: shot('confirm') });
  await page.click('#confirm-send');
  await row.getByText('stop TX 04 03 04 00 03 STATUS_NOERROR written 1').waitFor({ timeout: 10000 });
  // The core's log line names the start frame; the stop frame is in the
  // step's line below it, in the same Raw log panel.
  await page.locator('#log-pane').getByText('FunctionExecution verified name=Idle speed valve TX=04 01 04 01 03').waitFor();
  await page.locator('#steps li').last().getByText('stop TX 04 03 04 00 03 STATUS_NOERROR written 1').waitFor();
  assert.match(await row.locator('td').nth(4).textContent(), /^okVX_RunSafeFunction\(Idle speed valve\) +sent, TX 04 01 04 01 03/);
  // A row the core answered with its probe says so.
  const probed = page.locator('#rows-table tbody tr').nth(2);
  await probed.locator('button').click();
  await page.click('#confirm-send');
  await probed.getByText('probe fallback').waitFor({ timeout: 10000 });
  assert.match(await probed.locator('.verdict').textContent(), /warn/);
  await page.locator('#rows').screenshot({ path: shot('panel-rows') });
});

await check('the raw log follows new lines and downloads; close releases the device', async () => {
  const pane = page.locator('#log-pane');
  const atEnd = await pane.evaluate((node) => node.scrollTop + node.clientHeight >= node.scrollHeight - 2);
  assert.ok(atEnd, 'the pane shows its last line');
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  const saved = path.join(outputDir, 'raw-log.txt');
  await download.saveAs(saved);
  assert.match(execFileSync('cat', [saved], { encoding: 'utf8' }), /PassThruOpen OK/);
  await page.locator('#log').screenshot({ path: shot('panel-log') });
  await page.screenshot({ path: shot('session'), fullPage: true });
  await clickAndSee(page, '#close', '#vci-result', 'channel, device and library released');
  assert.equal(await page.textContent('#state'), 'device closed');
});

await check('a function started before the tab closes and Ctrl-C arrives still writes its stop frame', async () => {
  await page.close();  // its session ends: the next tab may claim the device
  await new Promise((resolve) => setTimeout(resolve, 500));
  const tab = await openPage(server);
  await openDevice(tab, 'opened');
  await clickAndSee(tab, '#connect', '#link-result', 'channel');
  await prepareFunction(tab);
  await tab.locator('#rows-table tbody tr').first().locator('button').click();
  await tab.click('#confirm-send');
  await tab.waitForTimeout(100);  // the function is running in the server
  await tab.close();
  server.process.kill('SIGINT');
  assert.equal(await server.exited, 130);
  const lines = server.output.split('\n');
  const run = lines.findLastIndex((line) => line.includes('VX_RunSafeFunction(Idle speed valve)'));
  assert.match(lines[run], /^ok .*stop TX 04 03 04 00 03 STATUS_NOERROR written 1/);
  assert.ok(lines.slice(run + 1).some((line) => /^ok +VX_CloseJ2534\(\)/.test(line)), server.output);
});

await check('an unplugged interface: the driver\'s error text and the hint; an idle page loses the device', async () => {
  const unplugged = await new Server([vxdiag], { VXSIM_NO_DEVICE: '1', VXSIM_INSTANT: '1' }).started();
  const tab = await openPage(unplugged);
  await openDevice(tab, 'PassThruOpen failed: ERR_DEVICE_NOT_CONNECTED (rc 8)');
  assert.match(await tab.textContent('#vci-result'), /^fail.*error: .+hint: .+/s);
  await tab.locator('#vci').screenshot({ path: shot('panel-vci-no-device') });
  await tab.close();
  unplugged.process.kill('SIGINT');
  assert.equal(await unplugged.exited, 130);
  // A page silent for the idle time loses the device, which is closed; SIGTERM exits 143.
  const idle = await new Server([vxdiag], { VXSIM_INSTANT: '1' }, ['--idle-seconds', '1']).started();
  const { session } = await idle.api('/api/claim');
  assert.equal((await idle.api('/api/step', { step: 'open' }, session)).verdict, 'ok');
  await idle.waitFor(/ok +VX_CloseJ2534\(\)/, 5000);
  assert.match(idle.errors, /sent nothing for the idle time/);
  assert.equal((await idle.api('/api/step', { step: 'faults' }, session)).status, 409);
  assert.ok((await idle.api('/api/claim')).session, 'another page may claim the device');
  idle.process.kill('SIGTERM');
  assert.equal(await idle.exited, 143);
});

await context.close();
console.log(`browser tests: ${passed} passed`);
