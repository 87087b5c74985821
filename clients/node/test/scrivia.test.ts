import * as assert from 'node:assert/strict';
import { test } from 'node:test';
import { listLocales, pickLocale, ScriviaSession, startScrivia } from '../src';
import { collect } from './support';

test('fatal errors come as error, then end, status 1', async (t) => {
    const rows = [
        { name: 'unsupported locale', options: { locale: 'xx_XX' }, code: 'unsupported' },
        { name: 'no sound server', options: { env: { PULSE_SERVER: 'unix:/nonexistent/scrivia/native' } }, code: 'no-mic' },
    ];
    for (const row of rows)
        await t.test(row.name, async () => {
            const { events, exit } = await collect(startScrivia({ locale: 'en_US', ...row.options }));
            assert.deepEqual(
                events.slice(-2).map((e) => (e.type === 'error' ? e.code : e.type)),
                [row.code, 'end'],
            );
            assert.deepEqual([exit.status, exit.signal], [1, null]);
        });
});

test('listLocales reads the catalogue, and pickLocale chooses from it', async () => {
    const { locales, onDevice } = await listLocales();
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
