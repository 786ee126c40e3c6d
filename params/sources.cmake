# Sources of the effect in params/.
