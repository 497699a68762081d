// The timer functions the ArkTS runtime provides to every file, as its SDK declares them.
declare function setTimeout(handler: () => void, delay?: number): number;
declare function clearTimeout(timeoutID?: number): void;
declare function setInterval(handler: () => void, delay?: number): number;
declare function clearInterval(intervalID?: number): void;
