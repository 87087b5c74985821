import * as assert from 'node:assert/strict';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import * as os from 'node:os';
import * as path from 'node:path';
import { test } from 'node:test';
import { findScrivia, listLocales, parseEvent, pickLocale, ScriviaSession, Transcript, type BinaryOptions, type FinalEvent } from 'scrivia-client';
import { binary, repoDir } from './support';

test('scrivia is the one asked for, else on PATH, else the repository build; a miss names where it looked', () => {
    const dir = mkdtempSync(path.join(os.tmpdir(), 'scrivia-lookup-'));
    symlinkSync('/bin/true', path.join(dir, 'scrivia'));
    for (const [options, want] of [
        [{ binary: '/bin/sh', env: { SCRIVIA_BINARY: '/bin/ls', PATH: dir } }, '/bin/sh'],
        [{ env: { SCRIVIA_BINARY: '/bin/ls', PATH: dir } }, '/bin/ls'],
        [{ env: { SCRIVIA_BINARY: '', PATH: `/nonexistent::${dir}` } }, path.join(dir, 'scrivia')],
        [{ env: { SCRIVIA_BINARY: '', PATH: '/nonexistent' } }, binary],
        [{ env: { SCRIVIA_BINARY: '/nonexistent', PATH: dir } }, /\(SCRIVIA_BINARY\); tried: \/nonexistent$/],
        [{ binary: 'scrivia', env: { PATH: '/nonexistent' } }, /option\); tried: \/nonexistent\/scrivia$/],
    ] as Array<[BinaryOptions, string | RegExp]>)
        if (typeof want === 'string') assert.equal(findScrivia(options), want, JSON.stringify(options));
        else assert.throws(() => findScrivia(options), want, JSON.stringify(options));
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
    // sleep ignores the control channel, as a stuck scrivia would; had it not
    // been killed, it would end on its own, with status 0.
    const session = new ScriviaSession(['30'], { binary: 'sleep' });
    assert.deepEqual(await session.stop({ timeoutMs: 300 }), { status: null, signal: 'SIGKILL' });
});

test('finals join into the text as dictated, from the cases both clients share; only a closing full stop may still change', () => {
    for (const { why, finals, expected } of JSON.parse(readFileSync(`${repoDir}/clients/transcript-cases.json`, 'utf8'))) {
        const transcript = new Transcript();
        for (const final of finals) transcript.add(parseEvent(JSON.stringify({ type: 'final', ...final })) as FinalEvent);
        assert.deepEqual([transcript.text, transcript.fixed], [expected, expected.replace(/\.$/, '')], why);
    }
    assert.equal(parseEvent('{"type":"final","text":"a","lineBreaksBefore":"2"}'), undefined);
});

test('words reach scrivia in a private file, gone once it exits however it ends; a line break throws', async () => {
    const tmp = mkdtempSync(path.join(os.tmpdir(), 'scrivia-words-test-'));
    const [fake, broken, saved] = [`${tmp}/fake`, `${tmp}/broken`, process.env.TMPDIR];
    // Records its arguments, then the mode and content of the last one's file.
    writeFileSync(fake, `#!/bin/bash\n{ echo "$@"; stat -c %a "\${@: -1}" && cat "\${@: -1}"; } >$0.record 2>&1\necho '{"type":"ready","locale":"en-US","onDevice":true}'\nread -r\n`, { mode: 0o755 });
    writeFileSync(broken, '#!/nonexistent/bash\n', { mode: 0o755 });
    process.env.TMPDIR = tmp; // where the client's os.tmpdir() makes its folder
    const [entries, heard] = [['Kubernetes', 'PostgreSQL = post gres q l'], /^--pause 1 --words TMP\/scrivia-words-\w+\/words.txt\n600\nKubernetes\nPostgreSQL = post gres q l\n$/];
    for (const [binary, words, end, want] of [
        [fake, entries, (s) => s.stop(), heard], [fake, entries, (s) => s.kill(), heard], [fake, [], (s) => s.stop(), /^--pause 1\nstat: /],
        [fake, entries, (s) => process.kill(s.pid!, 'SIGKILL'), heard], [broken, entries, undefined, /^$/], // the start fails
        [broken, ['GitHub', 'Anouk\nDupont'], undefined, /^RangeError$/], [broken, ['Anouk\r'], undefined, /^RangeError$/],
    ] as Array<[string, string[], ((s: ScriviaSession) => unknown) | undefined, RegExp]>) {
        rmSync(`${fake}.record`, { force: true });
        const outcome = await (async () => {
            const session = new ScriviaSession(['--pause', '1'], { binary, words });
            session.once('ready', () => void end?.(session));
            await session.exited;
            return existsSync(`${fake}.record`) ? readFileSync(`${fake}.record`, 'utf8').replaceAll(tmp, 'TMP') : '';
        })().catch((error: Error) => error.name);
        assert.match(outcome, want, JSON.stringify(words));
        assert.deepEqual(readdirSync(tmp).sort(), existsSync(`${fake}.record`) ? ['broken', 'fake', 'fake.record'] : ['broken', 'fake']);
    }
    Object.assign(process.env, { TMPDIR: saved ?? '' }); // empty is as unset for os.tmpdir()
    rmSync(tmp, { recursive: true });
});
