import * as assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { startScrivia, type ScriviaEvent } from '../src';
import { collect, SoundServer } from './support';

const recording = '/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav';
const spoken = 'he was not an ill disposed young man'.split(' ');

let server: SoundServer;
before(() => (server = new SoundServer()));
after(() => server?.close());

const types = (events: ScriviaEvent[]) => events.map((e) => e.type).filter((t) => t !== 'level');
const finals = (events: ScriviaEvent[]) => events.flatMap((e) => (e.type === 'final' ? [e.text] : []));

test('a recording is dictated to finals, formatted as asked', async (t) => {
    const rows = [
        { punctuation: true, shape: /^[A-Z][a-z ]*\.$/ },
        { punctuation: false, shape: /^[a-z ]+$/ },
    ];
    for (const row of rows)
        await t.test(`punctuation ${row.punctuation}`, async () => {
            const stopFeed = server.feed(recording);
            const session = startScrivia({ locale: 'en_US', punctuation: row.punctuation, env: { PULSE_SERVER: server.address } });
            const { events, exit } = await collect(session, (e) => void (e.type === 'final' && session.stop()));
            stopFeed();
            const texts = finals(events);
            assert.ok(texts.length > 0, JSON.stringify(types(events)));
            for (const text of texts) assert.match(text, row.shape);
            const heard = texts.join(' ').toLowerCase().replace(/[^a-z ]/g, '').split(' ');
            const shared = spoken.filter((word) => heard.includes(word)).length;
            assert.ok(shared >= 5, `heard "${texts.join(' ')}"`);
            const order = types(events);
            assert.equal(order[0], 'ready');
            assert.equal(order.at(-1), 'end');
            assert.deepEqual([exit.status, exit.signal], [0, null]);
        });
});

test('stop while speaking still delivers the owed text, then end, status 0', async () => {
    const stopFeed = server.feed(recording);
    const session = startScrivia({ locale: 'en_US', env: { PULSE_SERVER: server.address } });
    let seen = 0;
    let stopAt = -1;
    const { events, exit } = await collect(session, (e) => {
        seen++;
        if (stopAt < 0 && e.type === 'partial' && e.text.includes(' ')) {
            stopAt = seen;
            void session.stop();
        }
    });
    stopFeed();
    assert.ok(stopAt >= 0, 'a partial came while the recording played');
    const afterStop = types(events.slice(stopAt));
    assert.ok(afterStop.includes('final'), JSON.stringify(afterStop));
    assert.equal(afterStop.at(-1), 'end');
    assert.deepEqual([exit.status, exit.signal], [0, null]);
});
