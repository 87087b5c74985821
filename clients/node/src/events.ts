// The lines scrivia writes on its standard output, as typed values.

import { errorTexts } from './error-texts.js';

export interface LocalesEvent {
    type: 'locales';
    locales: string[];
    onDevice: string[];
}
export interface ReadyEvent {
    type: 'ready';
    locale: string;
    onDevice: boolean;
}
/** Microphone level, 0..1 in hundredths; drives a meter. */
export interface LevelEvent {
    type: 'level';
    value: number;
}
/** The text of the current segment so far; replaces the previous partial. */
export interface PartialEvent {
    type: 'partial';
    text: string;
}
/**
 * Settled text of a segment: trimmed, never empty. `lineBreaksBefore` (1 or 2,
 * absent for none) is the line feeds the person asked for before it; a
 * `Transcript` joins finals with them.
 */
export interface FinalEvent {
    type: 'final';
    text: string;
    lineBreaksBefore?: number;
}
/** A fatal error; `message` is French, for the user. "end" follows. */
export interface ErrorEvent {
    type: 'error';
    code: ScriviaErrorCode;
    message: string;
}
export interface EndEvent {
    type: 'end';
}

export type ScriviaEvent =
    | LocalesEvent
    | ReadyEvent
    | LevelEvent
    | PartialEvent
    | FinalEvent
    | ErrorEvent
    | EndEvent;
export type ScriviaEventType = ScriviaEvent['type'];


export type ScriviaErrorCode = keyof typeof errorTexts;
export const errorCodes = Object.keys(errorTexts) as ScriviaErrorCode[];

/** English text for an error code; a newer scrivia's unknown code gets a generic one. */
export function errorText(code: ScriviaErrorCode): string {
    return Object.hasOwn(errorTexts, code) ? errorTexts[code] : `Dictation failed (${String(code)})`;
}

type Kind = 'string' | 'boolean' | 'number' | 'string[]';
type Shape = Record<string, Kind | `${Kind}?`>; // "?": may be absent
const shapes: Record<ScriviaEventType, Shape> = {
    locales: { locales: 'string[]', onDevice: 'string[]' },
    ready: { locale: 'string', onDevice: 'boolean' },
    level: { value: 'number' },
    partial: { text: 'string' },
    final: { text: 'string', lineBreaksBefore: 'number?' },
    // Unknown codes pass: dropping the line would hide a fatal error.
    error: { code: 'string', message: 'string' },
    end: {},
};

function fits(value: unknown, kind: Shape[string]): boolean {
    if (kind.endsWith('?')) return value === undefined || fits(value, kind.slice(0, -1) as Kind);
    if (kind === 'string[]') return Array.isArray(value) && value.every((v) => typeof v === 'string');
    return typeof value === kind;
}

/**
 * Reads one line of scrivia's output. Returns undefined for anything that is
 * not a known event with its members, so a host survives garbage or a newer
 * scrivia's new kinds; extra members are kept.
 */
export function parseEvent(line: string): ScriviaEvent | undefined {
    let value: unknown;
    try {
        value = JSON.parse(line);
    } catch {
        return undefined;
    }
    if (typeof value !== 'object' || value === null || Array.isArray(value)) return undefined;
    const record = value as Record<string, unknown>;
    const type = record.type;
    if (typeof type !== 'string' || !Object.hasOwn(shapes, type)) return undefined;
    const shape = shapes[type as ScriviaEventType];
    for (const [member, kind] of Object.entries(shape)) if (!fits(record[member], kind)) return undefined;
    return record as unknown as ScriviaEvent;
}
