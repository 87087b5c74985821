import * as assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import * as os from 'node:os';
import * as path from 'node:path';
import { test } from 'node:test';
import { findScrivia, listLocales, pickLocale, ScriviaSession, startScrivia, type BinaryOptions } from 'scrivia-client';
import { binary, collect } from './support';

test('a run that cannot listen ends with its error, then end, status 1', async () => {
    const { events, exit } = await collect(startScrivia({ binary, locale: 'en_US', env: { PULSE_SERVER: 'unix:/nonexistent/scrivia/native' } }));
    assert.deepEqual(events.map((e) => (e.type === 'error' ? e.code : e.type)), ['no-mic', 'end']);
    assert.deepEqual([exit.status, exit.signal], [1, null]);
});

test('scrivia is the one asked for, else on PATH, else the repository build; a miss names where it looked', () => {
    const dir = mkdtempSync(path.join(os.tmpdir(), 'scrivia-lookup-'));
    const [given, fromEnv, onPath] = ['given', 'env', 'bin'].map((folder) => {
        mkdirSync(path.join(dir, folder));
        writeFileSync(path.join(dir, folder, 'scrivia'), '', { mode: 0o755 });
        return path.join(dir, folder, 'scrivia');
    });
    const [bin, none] = [path.join(dir, 'bin'), path.join(dir, 'none')];
    const rows: Array<[BinaryOptions, string | RegExp]> = [
        [{ binary: given!, env: { SCRIVIA_BINARY: fromEnv, PATH: bin } }, given!],
        [{ env: { SCRIVIA_BINARY: fromEnv, PATH: bin } }, fromEnv!],
        [{ env: { SCRIVIA_BINARY: '', PATH: `${none}::${bin}` } }, onPath!],
        [{ env: { SCRIVIA_BINARY: '', PATH: none } }, binary],
        [{ env: { SCRIVIA_BINARY: none, PATH: bin } }, /: scrivia not found \(SCRIVIA_BINARY\); tried: \S+none$/],
        [{ binary: 'scrivia', env: { PATH: `${none}:${dir}` } }, /option.*tried: \S+none\/scrivia, \S+\/scrivia$/],
    ];
    for (const [options, want] of rows) {
        if (typeof want === 'string') assert.equal(findScrivia(options), want, JSON.stringify(options));
        else assert.throws(() => findScrivia(options), want, JSON.stringify(options));
    }
    rmSync(dir, { recursive: true });
});

test('listLocales reads the catalogue, and pickLocale chooses from it', async () => {
    const { locales, onDevice } = await listLocales({ binary });
    assert.ok(locales.includes('en-US'), `${locales}`);
    assert.ok(onDevice.every((id) => locales.includes(id)));
    const catalogue = ['de-DE', 'en-GB', 'en-US'];
    for (const [wanted, want] of [['en_US', 'en-US'], ['en-us', 'en-US'], ['en_AU', 'en-GB'], ['en', 'en-GB'], ['fr_FR', undefined]])
        assert.equal(pickLocale(wanted!, catalogue), want, wanted);
});

test('stop kills a child that does not stop within the bound', async () => {
    // sleep ignores the control channel, as a stuck scrivia would.
    const session = new ScriviaSession(['30'], { binary: 'sleep' });
    const started = Date.now();
    assert.deepEqual(await session.stop({ timeoutMs: 300 }), { status: null, signal: 'SIGKILL' });
    assert.ok(Date.now() - started < 3000);
});
